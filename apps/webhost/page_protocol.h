#pragma once
// The messages a page sends on its WebSocket, one JSON object each:
//   {"id":1,"op":"create","width":640,"height":360}      a control, sized in device pixels
//   {"id":2,"op":"call","control":1,"name":"PlayVideo","args":[...]}
//   {"id":3,"op":"put","control":1,"name":"RecFileLen","value":10}
//   {"id":4,"op":"playDemo","control":1}                 PlayVideo on the host's demo camera
//   {"id":5,"op":"destroy","control":1}
//   {"op":"drawn","control":1}                           the last picture is painted
//   {"op":"mouse","control":1,"x":10,"y":20,"button":1,"clicks":1}
//   {"op":"key","control":1,"key":13}
//   {"op":"resize","control":1,"width":800,"height":450}
//   {"op":"screen","control":1,"width":1920,"height":1080}  the page's screen, device pixels
//   {"id":6,"op":"records","ip":"127.0.0.1","port":8081,"user":"admin","pwd":"",
//    "from":"2026-12-01T00:00","to":"2026-12-31T23:59"}   the camera's SD-card files:
//    answered with [{"name":"...","size":N}, ...]
// Requests with an "id" are answered {"id":N,"ok":true,"result":...} or
// {"id":N,"ok":false,"error":"..."}. The host also sends
//   {"op":"event","control":1,"name":"MessageNotify","args":[2,0]}
//   {"op":"property","control":1,"name":"SoundState","value":1}
// and pictures as binary messages (picture_message.h).

#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace lumvara::webhost {

enum class PageOp {
  kCreate,
  kCall,
  kPut,
  kPlayDemo,
  kDestroy,
  kDrawn,
  kMouse,
  kKey,
  kResize,
  kRecords,
  kScreen,
  kPropertyPage
};

// A calendar time of a records request.
struct CalendarTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// The largest control window a page may ask for, per side.
inline constexpr int kMaxControlSide = 8192;

struct PageRequest {
  PageOp op = PageOp::kDrawn;
  nlohmann::json id;  // null, or an integer for requests that are answered
  int control = 0;
  std::string name;
  nlohmann::json args = nlohmann::json::array();
  nlohmann::json value;
  int x = 0, y = 0, button = 0, clicks = 0, key = 0, width = 0, height = 0;
  // records
  std::string ip, user, pwd;
  int port = 0;
  CalendarTime from, to;
};

// "YYYY-MM-DDTHH:MM" or "YYYY-MM-DDTHH:MM:SS"; false for anything else.
bool ParseCalendarTime(std::string_view text, CalendarTime* out);

// Reads one message. False with a short reason (for the page) when it is
// not JSON, not an object, names no known op, or lacks a field of the
// right type; `out->id` is filled whenever the message carried a usable id.
bool ParsePageRequest(std::string_view text, PageRequest* out, std::string* problem);

}  // namespace lumvara::webhost
