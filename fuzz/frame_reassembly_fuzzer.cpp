// Frame reassembly of a stream connection: the camera's bytes arrive in
// pieces of any size, and whole frames must come out exactly as a plain
// reading of the byte stream finds them, whatever the cuts.
//
// Input: one byte N (cuts, N % 32), N little-endian 16-bit piece lengths
// (bit 15 chooses feed() or the receive thread's freeSpace()/commit() path),
// then the stream itself; the last piece is whatever remains.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "net/transport/frame_reassembler.h"

namespace {

using lumvara::FrameReassembler;

struct ModelFrame {
  size_t offset;
  size_t total;
};

// What a straight reading of the whole stream finds: its frames in order,
// and where the first bad header becomes whole (0: none).
struct Model {
  std::vector<ModelFrame> frames;
  size_t corruptEnd = 0;
  size_t consumed = 0;  // bytes taken by whole frames
};

Model readStream(const uint8_t* stream, size_t size) {
  Model model;
  size_t at = 0;
  while (size - at >= lumvara::kFrameHeaderSize) {
    const uint8_t* header = stream + at;
    const uint32_t length = lumvara::frameLength(header);
    if (lumvara::frameMagic(header) != lumvara::kFrameMagic || length > lumvara::kMaxReassembledPayload) {
      model.corruptEnd = at + lumvara::kFrameHeaderSize;
      break;
    }
    const size_t total = lumvara::kFrameHeaderSize + length;
    if (size - at < total) {
      break;
    }
    model.frames.push_back({at, total});
    at += total;
  }
  model.consumed = at;
  return model;
}

struct Run {
  const uint8_t* stream;
  const Model* model;
  size_t fed = 0;        // stream bytes handed to the reassembler so far
  size_t delivered = 0;  // frames that came out
};

void onFrame(const uint8_t* frame, size_t totalLength, void* context) {
  auto& run = *static_cast<Run*>(context);
  FUZZ_CHECK(run.delivered < run.model->frames.size());
  const ModelFrame& expected = run.model->frames[run.delivered];
  FUZZ_CHECK(totalLength == expected.total);
  FUZZ_CHECK(expected.offset + expected.total <= run.fed);
  // Receivers read the header's 32-bit fields in place.
  FUZZ_CHECK(reinterpret_cast<uintptr_t>(frame) % alignof(uint32_t) == 0);
  FUZZ_CHECK(std::memcmp(frame, run.stream + expected.offset, totalLength) == 0);
  ++run.delivered;
}

// Frames whose last byte has been fed.
size_t framesComplete(const Model& model, size_t fed) {
  size_t count = 0;
  while (count < model.frames.size() && model.frames[count].offset + model.frames[count].total <= fed) {
    ++count;
  }
  return count;
}

FrameReassembler::Status receive(FrameReassembler& reassembler, const uint8_t* data, size_t size, Run& run) {
  // As the receive thread does: receive into the free space, commit.
  do {
    const size_t step = size < reassembler.freeBytes() ? size : reassembler.freeBytes();
    std::memcpy(reassembler.freeSpace(), data, step);
    run.fed += step;
    if (reassembler.commit(step, onFrame, &run) == FrameReassembler::Status::Corrupt) {
      return FrameReassembler::Status::Corrupt;
    }
    data += step;
    size -= step;
  } while (size > 0);
  return FrameReassembler::Status::Ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) {
    return 0;
  }
  const size_t cuts = data[0] % 32;
  size_t at = 1;
  std::vector<uint16_t> pieces;
  for (size_t i = 0; i < cuts && at + 2 <= size; ++i, at += 2) {
    pieces.push_back(static_cast<uint16_t>(data[at] | (data[at + 1] << 8)));
  }
  const uint8_t* stream = data + at;
  const size_t streamSize = size - at;
  const Model model = readStream(stream, streamSize);

  static FrameReassembler reassembler;  // one buffer, as a connection keeps
  reassembler.clear();
  Run run{stream, &model};
  bool corrupt = false;
  for (size_t i = 0; i <= pieces.size() && !corrupt; ++i) {
    const bool last = i == pieces.size();
    const bool useFeed = !last && (pieces[i] & 0x8000) != 0;
    size_t piece = last ? streamSize - run.fed : pieces[i] & 0x7FFF;
    if (piece > streamSize - run.fed) {
      piece = streamSize - run.fed;
    }
    const uint8_t* from = stream + run.fed;
    FrameReassembler::Status status;
    if (useFeed) {
      run.fed += piece;
      status = reassembler.feed(from, piece, onFrame, &run);
    } else {
      status = receive(reassembler, from, piece, run);
    }
    corrupt = status == FrameReassembler::Status::Corrupt;
    if (corrupt) {
      // Reported once the bad header was whole, never before.
      FUZZ_CHECK(model.corruptEnd != 0 && model.corruptEnd <= run.fed);
      FUZZ_CHECK(run.delivered == model.frames.size());
      FUZZ_CHECK(reassembler.held() == 0);
    } else {
      FUZZ_CHECK(model.corruptEnd == 0 || model.corruptEnd > run.fed);
      // Every frame that is whole is out, and nothing else is held.
      FUZZ_CHECK(run.delivered == framesComplete(model, run.fed));
      const size_t frameEnd =
          run.delivered == 0 ? 0 : model.frames[run.delivered - 1].offset + model.frames[run.delivered - 1].total;
      FUZZ_CHECK(reassembler.held() == run.fed - frameEnd);
    }
  }
  FUZZ_CHECK(corrupt == (model.corruptEnd != 0));
  if (!corrupt) {
    FUZZ_CHECK(run.delivered == model.frames.size());
    FUZZ_CHECK(reassembler.held() == streamSize - model.consumed);
  }
  return 0;
}
