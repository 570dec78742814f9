// One picture's way through the renderer: conversion into the surface, then
// presentation (stretch into a headless window), with and without two text
// entries (a caption and a time stamp), at 1280x720 into 640x360 and
// 1920x1080 into 960x540.

#include <benchmark/benchmark.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "platform/winsys/presenter.h"
#include "platform/winsys/window.h"
#include "player/i420_converter.h"
#include "player/video_renderer.h"

namespace {

using namespace lumvara;

OsdStringRecord entry(int32_t position, int32_t mode, const char* text) {
  OsdStringRecord record{};
  std::strcpy(record.faceName, "DejaVu Sans");
  std::strcpy(record.text, text);
  record.fontHeight = 24;
  record.green = 255;
  record.mode = mode;
  record.position = position;
  return record;
}

void BM_LoadAndPresent(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  const bool texts = state.range(2) != 0;
  winsys::WindowDesc desc;
  desc.style = winsys::WS_VISIBLE | winsys::WS_POPUP;
  desc.rect = {0, 0, width / 2, height / 2};
  winsys::HWND window = winsys::CreateWindow(desc, winsys::CreateHeadlessPresenter());
  std::vector<uint8_t> picture(packedI420Size(width, height));
  for (size_t i = 0; i < picture.size(); ++i) {
    picture[i] = static_cast<uint8_t>(i * 13 / 7);
  }
  VideoRenderer renderer;
  if (texts) {
    renderer.setOsdString(0, entry(LUMVARA_OSD_TOP_LEFT, 0, "Front door"));
    renderer.setOsdString(1, entry(LUMVARA_OSD_BOTTOM_RIGHT, 1, ""));
  }
  int64_t time = 1709647629;
  for (auto _ : state) {
    std::lock_guard<std::mutex> guard(renderer.pictureLock());
    renderer.setFrameTime(time++, 0);
    if (!renderer.loadPicture(picture.data(), width, height, window)) {
      state.SkipWithError("the picture was not loaded");
      break;
    }
    renderer.presentPicture();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  winsys::DestroyWindow(window);
}

BENCHMARK(BM_LoadAndPresent)
    ->Args({1280, 720, 0})
    ->Args({1280, 720, 1})
    ->Args({1920, 1080, 0})
    ->Args({1920, 1080, 1})
    ->ArgNames({"width", "height", "texts"})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
