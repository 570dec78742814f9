/* Public API: camera devices, stream frames and camera parameter records
   (device_net_work_*, device_record_file_*).

   Every record here has a fixed byte layout that cameras, players and
   recorders rely on; sizes and offsets are checked at compile time. All
   integers are little-endian on the wire. */
#ifndef LUMVARA_DEVICE_H
#define LUMVARA_DEVICE_H

#include <lumvara/export.h>

#include <stddef.h>
#include <stdint.h>

LUMVARA_BEGIN_DECLS

/* ---- Connection record ------------------------------------------------- */

/* What a camera device is created from; passed by value. Texts are UTF-8,
   NUL-terminated. `reserved` is zero and never read. */
typedef struct DeviceConnectInfo {
  char user[64];
  char pwd[64];
  char host[64]; /* dotted IPv4 text or a host name */
  int32_t port;  /* TCP port of the camera's web server */
  char reserved[64];
} DeviceConnectInfo;

LUMVARA_STATIC_ASSERT(sizeof(DeviceConnectInfo) == 260, "DeviceConnectInfo is 260 bytes");
LUMVARA_STATIC_ASSERT(offsetof(DeviceConnectInfo, pwd) == 64, "pwd at 64");
LUMVARA_STATIC_ASSERT(offsetof(DeviceConnectInfo, host) == 128, "host at 128");
LUMVARA_STATIC_ASSERT(offsetof(DeviceConnectInfo, port) == 192, "port at 192");
LUMVARA_STATIC_ASSERT(offsetof(DeviceConnectInfo, reserved) == 196, "reserved at 196");

/* ---- Stream frames ----------------------------------------------------- */

/* The 32-byte header in front of every stream frame, in both directions.
   A frame travels whole: header, then `length` payload bytes. Bytes marked
   unused are sent as zero and never read. */
typedef struct StreamFrameHeader {
  uint32_t magic; /* always LUMVARA_FRAME_MAGIC */
  uint8_t kind;   /* LUMVARA_FRAME_KIND_*; read unsigned (values above 127 occur) */
  uint8_t unused5;
  uint16_t unused6;
  uint32_t time;   /* camera: seconds since 1970 UTC; talk: sender's millisecond tick */
  uint32_t seq;    /* talk frames: sequence number; not read from the camera */
  uint32_t length; /* payload bytes after the header, at most LUMVARA_FRAME_MAX_PAYLOAD */
  uint8_t unused20[5];
  int8_t zone; /* hours: local display time is time - zone * 3600 */
  uint8_t unused26[6];
} StreamFrameHeader;

LUMVARA_STATIC_ASSERT(sizeof(StreamFrameHeader) == 32, "StreamFrameHeader is 32 bytes");
LUMVARA_STATIC_ASSERT(offsetof(StreamFrameHeader, kind) == 4, "kind at 4");
LUMVARA_STATIC_ASSERT(offsetof(StreamFrameHeader, time) == 8, "time at 8");
LUMVARA_STATIC_ASSERT(offsetof(StreamFrameHeader, seq) == 12, "seq at 12");
LUMVARA_STATIC_ASSERT(offsetof(StreamFrameHeader, length) == 16, "length at 16");
LUMVARA_STATIC_ASSERT(offsetof(StreamFrameHeader, zone) == 25, "zone at 25");

#define LUMVARA_FRAME_MAGIC 0xA815AA55u
#define LUMVARA_FRAME_HEADER_SIZE 32
#define LUMVARA_FRAME_MAX_PAYLOAD 0x80000

/* Frame kinds. */
enum {
  LUMVARA_FRAME_KIND_H264_KEY = 0,         /* H.264 key frame: a decoder can start here */
  LUMVARA_FRAME_KIND_H264 = 1,             /* H.264 frame depending on earlier ones */
  LUMVARA_FRAME_KIND_JPEG = 3,             /* one JPEG picture */
  LUMVARA_FRAME_KIND_ADPCM = 6,            /* camera audio, IMA ADPCM, 512 bytes */
  LUMVARA_FRAME_KIND_ALAW = 7,             /* camera audio, G.711 A-law, 960 bytes */
  LUMVARA_FRAME_KIND_TALK = 8,             /* talk audio from the client to the camera */
  LUMVARA_FRAME_KIND_MOTION_ALARM = 32,    /* motion alarm raised */
  LUMVARA_FRAME_KIND_INPUT_ALARM = 33,     /* input (GPIO) alarm raised */
  LUMVARA_FRAME_KIND_MOTION_OVER = 34,     /* motion alarm over */
  LUMVARA_FRAME_KIND_INPUT_OVER = 35,      /* input alarm over */
  LUMVARA_FRAME_KIND_LOGIN_REFUSED = 200,  /* user or password wrong */
  LUMVARA_FRAME_KIND_TOO_MANY_USERS = 201, /* camera's connection limit reached */
  LUMVARA_FRAME_KIND_REQUEST_ERROR = 202,  /* request type error */
  LUMVARA_FRAME_KIND_VIDEO_LOSS = 203      /* video loss at the camera */
};

/* Device event codes (first argument of DeviceEventCallback). */
enum {
  LUMVARA_EVENT_CONNECTING = 0, /* the live stream is being (re)connected */
  LUMVARA_EVENT_LOGIN_REFUSED = 1,
  LUMVARA_EVENT_TOO_MANY_USERS = 2, /* reconnection suspended */
  LUMVARA_EVENT_REQUEST_ERROR = 3,  /* reconnection suspended */
  LUMVARA_EVENT_VIDEO_LOSS = 4,     /* reconnection suspended */
  LUMVARA_EVENT_MOTION_ALARM = 32,
  LUMVARA_EVENT_INPUT_ALARM = 33,
  LUMVARA_EVENT_MOTION_OVER = 34,
  LUMVARA_EVENT_INPUT_OVER = 35,
  LUMVARA_EVENT_CONNECTED = 100,     /* live request sent on a connected socket */
  LUMVARA_EVENT_CONNECT_FAILED = 101 /* no address, refused or timed out; retried */
};

/* ---- Command codes ----------------------------------------------------- */

/* Camera control codes (0 to 7, 11, 25 to 29, 90 to 95) are passed through
   to the camera as they are; the codes below select parameter requests. */
enum {
  LUMVARA_CMD_SET_NETWORK = 0x2000,
  LUMVARA_CMD_GET_NETWORK = 0x2001,
  LUMVARA_CMD_SET_USERS = 0x2002,
  LUMVARA_CMD_GET_USERS = 0x2003,
  LUMVARA_CMD_SET_DDNS = 0x2004,
  LUMVARA_CMD_GET_DDNS = 0x2005,
  LUMVARA_CMD_SET_FTP = 0x2006,
  LUMVARA_CMD_GET_FTP = 0x2007,
  LUMVARA_CMD_SET_MAIL = 0x2008, /* also the code under which misc settings are reported */
  LUMVARA_CMD_GET_MAIL = 0x2009,
  LUMVARA_CMD_SET_MISC = 0x2010,
  LUMVARA_CMD_GET_MISC = 0x2011,
  LUMVARA_CMD_SET_WIFI = 0x2012,
  LUMVARA_CMD_GET_WIFI_SCAN = 0x2013,
  LUMVARA_CMD_REBOOT = 0x2700,
  LUMVARA_CMD_SET_ALIAS = 0x2702
};

/* Largest payload setNetwork accepts. */
#define LUMVARA_COMMAND_PAYLOAD_MAX 1024

/* ---- Parameter records ------------------------------------------------- */
/* Texts are NUL-terminated (values longer than a field are cut); integers
   are 32-bit signed. */

typedef struct NetworkParams {
  char ip[64];
  char mask[64];
  char gateway[64];
  char dns1[64];
  char dns2[64];
  int32_t dhcp;
  int32_t port;
  int32_t reserved;
} NetworkParams;

LUMVARA_STATIC_ASSERT(sizeof(NetworkParams) == 332, "NetworkParams is 332 bytes");
LUMVARA_STATIC_ASSERT(offsetof(NetworkParams, mask) == 64, "mask at 64");
LUMVARA_STATIC_ASSERT(offsetof(NetworkParams, gateway) == 128, "gateway at 128");
LUMVARA_STATIC_ASSERT(offsetof(NetworkParams, dns1) == 192, "dns1 at 192");
LUMVARA_STATIC_ASSERT(offsetof(NetworkParams, dns2) == 256, "dns2 at 256");
LUMVARA_STATIC_ASSERT(offsetof(NetworkParams, dhcp) == 320, "dhcp at 320");
LUMVARA_STATIC_ASSERT(offsetof(NetworkParams, port) == 324, "port at 324");

typedef struct UserParams {
  char user1[64];
  char pwd1[64];
  char user2[64];
  char pwd2[64];
  char user3[64];
  char pwd3[64];
} UserParams;

LUMVARA_STATIC_ASSERT(sizeof(UserParams) == 384, "UserParams is 384 bytes");
LUMVARA_STATIC_ASSERT(offsetof(UserParams, pwd1) == 64, "pwd1 at 64");
LUMVARA_STATIC_ASSERT(offsetof(UserParams, user2) == 128, "user2 at 128");
LUMVARA_STATIC_ASSERT(offsetof(UserParams, pwd2) == 192, "pwd2 at 192");
LUMVARA_STATIC_ASSERT(offsetof(UserParams, user3) == 256, "user3 at 256");
LUMVARA_STATIC_ASSERT(offsetof(UserParams, pwd3) == 320, "pwd3 at 320");

typedef struct DdnsParams {
  int32_t service;
  char user[64];
  char pwd[64];
  char host[64];
  char proxy_svr[64];
  int32_t mode;
  int32_t proxy_port;
} DdnsParams;

LUMVARA_STATIC_ASSERT(sizeof(DdnsParams) == 268, "DdnsParams is 268 bytes");
LUMVARA_STATIC_ASSERT(offsetof(DdnsParams, user) == 4, "user at 4");
LUMVARA_STATIC_ASSERT(offsetof(DdnsParams, pwd) == 68, "pwd at 68");
LUMVARA_STATIC_ASSERT(offsetof(DdnsParams, host) == 132, "host at 132");
LUMVARA_STATIC_ASSERT(offsetof(DdnsParams, proxy_svr) == 196, "proxy_svr at 196");
LUMVARA_STATIC_ASSERT(offsetof(DdnsParams, mode) == 260, "mode at 260");
LUMVARA_STATIC_ASSERT(offsetof(DdnsParams, proxy_port) == 264, "proxy_port at 264");

typedef struct FtpParams {
  char svr[64];
  char user[64];
  char pwd[64];
  char dir[64];
  char reserved[64];
  int32_t port;
  int32_t mode;
  int32_t upload_interval;
} FtpParams;

LUMVARA_STATIC_ASSERT(sizeof(FtpParams) == 332, "FtpParams is 332 bytes");
LUMVARA_STATIC_ASSERT(offsetof(FtpParams, user) == 64, "user at 64");
LUMVARA_STATIC_ASSERT(offsetof(FtpParams, pwd) == 128, "pwd at 128");
LUMVARA_STATIC_ASSERT(offsetof(FtpParams, dir) == 192, "dir at 192");
LUMVARA_STATIC_ASSERT(offsetof(FtpParams, port) == 320, "port at 320");
LUMVARA_STATIC_ASSERT(offsetof(FtpParams, mode) == 324, "mode at 324");
LUMVARA_STATIC_ASSERT(offsetof(FtpParams, upload_interval) == 328, "upload_interval at 328");

typedef struct MailParams {
  char svr[64];
  char user[64];
  char pwd[64];
  char sender[64];
  char receiver1[64];
  char receiver2[64];
  char receiver3[64];
  char receiver4[64];
  int32_t inet_ip;
  int32_t port;
  int32_t ssl;
} MailParams;

LUMVARA_STATIC_ASSERT(sizeof(MailParams) == 524, "MailParams is 524 bytes");
LUMVARA_STATIC_ASSERT(offsetof(MailParams, sender) == 192, "sender at 192");
LUMVARA_STATIC_ASSERT(offsetof(MailParams, receiver1) == 256, "receiver1 at 256");
LUMVARA_STATIC_ASSERT(offsetof(MailParams, receiver4) == 448, "receiver4 at 448");
LUMVARA_STATIC_ASSERT(offsetof(MailParams, inet_ip) == 512, "inet_ip at 512");
LUMVARA_STATIC_ASSERT(offsetof(MailParams, port) == 516, "port at 516");
LUMVARA_STATIC_ASSERT(offsetof(MailParams, ssl) == 520, "ssl at 520");

typedef struct MiscParams {
  int32_t led_mode;
  int32_t ptz_center_onstart;
  int32_t reserved;
  int32_t ptz_run_times;
  int32_t ptz_patrol_rate;
  int32_t ptz_patrol_up_rate;
  int32_t ptz_patrol_down_rate;
  int32_t ptz_patrol_left_rate;
  int32_t ptz_patrol_right_rate;
  int32_t ptz_disppreset;
  int32_t preset_onstart;
} MiscParams;

LUMVARA_STATIC_ASSERT(sizeof(MiscParams) == 44, "MiscParams is 44 bytes");
LUMVARA_STATIC_ASSERT(offsetof(MiscParams, ptz_run_times) == 12, "ptz_run_times at 12");
LUMVARA_STATIC_ASSERT(offsetof(MiscParams, ptz_patrol_rate) == 16, "ptz_patrol_rate at 16");
LUMVARA_STATIC_ASSERT(offsetof(MiscParams, ptz_disppreset) == 36, "ptz_disppreset at 36");
LUMVARA_STATIC_ASSERT(offsetof(MiscParams, preset_onstart) == 40, "preset_onstart at 40");

/* Payload of LUMVARA_CMD_SET_WIFI. The pre-shared key runs to the end of
   the payload; a caller may pass fewer than sizeof(WifiParams) bytes as long
   as the key is NUL-terminated within them. */
typedef struct WifiParams {
  int32_t enable;
  char ssid[128];
  int32_t reserved;
  int32_t mode;
  int32_t authtype;
  int32_t encrypt;
  int32_t keyformat;
  int32_t defkey;
  char key1[128];
  char key2[128];
  char key3[128];
  char key4[128];
  int32_t key1_bits;
  int32_t key2_bits;
  int32_t key3_bits;
  int32_t key4_bits;
  char wpa_psk[340];
} WifiParams;

LUMVARA_STATIC_ASSERT(sizeof(WifiParams) == 1024, "WifiParams fills the command payload");
LUMVARA_STATIC_ASSERT(offsetof(WifiParams, ssid) == 4, "ssid at 4");
LUMVARA_STATIC_ASSERT(offsetof(WifiParams, mode) == 136, "mode at 136");
LUMVARA_STATIC_ASSERT(offsetof(WifiParams, authtype) == 140, "authtype at 140");
LUMVARA_STATIC_ASSERT(offsetof(WifiParams, encrypt) == 144, "encrypt at 144");
LUMVARA_STATIC_ASSERT(offsetof(WifiParams, keyformat) == 148, "keyformat at 148");
LUMVARA_STATIC_ASSERT(offsetof(WifiParams, defkey) == 152, "defkey at 152");
LUMVARA_STATIC_ASSERT(offsetof(WifiParams, key1) == 156, "key1 at 156");
LUMVARA_STATIC_ASSERT(offsetof(WifiParams, key2) == 284, "key2 at 284");
LUMVARA_STATIC_ASSERT(offsetof(WifiParams, key3) == 412, "key3 at 412");
LUMVARA_STATIC_ASSERT(offsetof(WifiParams, key4) == 540, "key4 at 540");
LUMVARA_STATIC_ASSERT(offsetof(WifiParams, key1_bits) == 668, "key1_bits at 668");
LUMVARA_STATIC_ASSERT(offsetof(WifiParams, key4_bits) == 680, "key4_bits at 680");
LUMVARA_STATIC_ASSERT(offsetof(WifiParams, wpa_psk) == 684, "wpa_psk at 684");

typedef struct WifiApEntry {
  char ssid[64];
  char mac[64];
  int32_t security;
  char dbm0[32];
  char dbm1[32];
  int32_t mode;
} WifiApEntry;

LUMVARA_STATIC_ASSERT(sizeof(WifiApEntry) == 200, "WifiApEntry is 200 bytes");
LUMVARA_STATIC_ASSERT(offsetof(WifiApEntry, mac) == 64, "mac at 64");
LUMVARA_STATIC_ASSERT(offsetof(WifiApEntry, security) == 128, "security at 128");
LUMVARA_STATIC_ASSERT(offsetof(WifiApEntry, dbm0) == 132, "dbm0 at 132");
LUMVARA_STATIC_ASSERT(offsetof(WifiApEntry, dbm1) == 164, "dbm1 at 164");
LUMVARA_STATIC_ASSERT(offsetof(WifiApEntry, mode) == 196, "mode at 196");

#define LUMVARA_WIFI_SCAN_MAX 100

/* Entries beyond the reported count stay zero. */
typedef struct WifiScanResult {
  WifiApEntry ap[LUMVARA_WIFI_SCAN_MAX];
} WifiScanResult;

LUMVARA_STATIC_ASSERT(sizeof(WifiScanResult) == 20000, "WifiScanResult is 20000 bytes");

/* ---- Callbacks --------------------------------------------------------- */
/* Results of callbacks are ignored. Each names its thread in the call that
   installs it. */

/* A whole frame, header first; `length` is 32 + payload length. The frame
   is only valid during the call: keep a copy to hold on to it. */
typedef int (*DeviceDataCallback)(const unsigned char* frame, int length, void* context);
typedef int (*DeviceEventCallback)(int event, void* context);
/* `record` belongs to the device and is reused after the call returns. */
typedef int (*ParamDataCallback)(int code, const void* record, int size, void* context);
/* result: 0 accepted by the camera, -1 not. */
typedef int (*ParamResultCallback)(int code, int result);
/* `prefix` holds the first 8 characters of `name`. */
typedef int (*RecordFileCallback)(const char* name, const char* prefix, int size, void* context);

/* ---- Exported calls ---------------------------------------------------- */
/* A handle is what device_net_work_createInstance returned. Every call but
   creation, init and deInit checks that the handle is a live device and
   returns 0 for a null, foreign or destroyed handle. Calls return 1 for
   success and 0 for failure. Callbacks must not stop the stream or destroy
   the device from inside themselves. */

LUMVARA_API int device_net_work_init(void);
LUMVARA_API int device_net_work_deInit(void);

/* Returns a new device, or NULL. Nothing is connected until an activity
   starts. */
LUMVARA_API void* device_net_work_createInstance(DeviceConnectInfo info);
/* Stops the live stream and destroys the device. */
LUMVARA_API int device_net_work_destroyInstance(void* handle);

/* Live stream: frames arrive on the connection's receive thread; events 0,
   100 and 101 come from the keep-alive thread, the others from the receive
   thread. Returns 1 even when the camera is unreachable (see the events). */
LUMVARA_API int device_net_work_startStream(void* handle, int stream_id, DeviceDataCallback callback, void* context);
LUMVARA_API int device_net_work_stopStream(void* handle);

/* Camera audio on a connection of its own; 1 when the request was sent. */
LUMVARA_API int device_net_work_startAudio(void* handle, int stream_id, DeviceDataCallback callback, void* context);
LUMVARA_API int device_net_work_stopAudio(void* handle);

/* Talk needs no start or stop: both return 0 and do nothing. */
LUMVARA_API int device_net_work_startTalk(void* handle);
LUMVARA_API int device_net_work_stopTalk(void* handle);
/* Sends `length` bytes (at most 4064) as one talk frame on the live
   connection while it is connected; returns 1 also when the frame was
   dropped, 0 for a refused payload. */
LUMVARA_API int device_net_work_sendTalkData(void* handle, const char* data, int length);

/* Returns 1 for a live handle. */
LUMVARA_API int device_net_work_set_event_callback(void* handle, DeviceEventCallback callback, void* context);

/* Commands run one at a time on the device's command worker thread, which
   also calls the parameter callbacks. */
LUMVARA_API int device_net_work_ptz(void* handle, int code);
LUMVARA_API int device_net_work_param_callback(void* handle, ParamDataCallback data_callback,
                                               ParamResultCallback result_callback, void* context);
/* `length` at most LUMVARA_COMMAND_PAYLOAD_MAX; longer payloads are refused. */
LUMVARA_API int device_net_work_set_network(void* handle, int code, const char* payload, int length);
LUMVARA_API int device_net_work_get_network(void* handle, int code);

/* Lists the camera's SD recordings between two local calendar times; one
   callback per file on the search thread. */
LUMVARA_API int device_record_file_search_list(void* handle, int start_year, int start_month, int start_day,
                                               int start_hour, int start_minute, int start_second, int end_year,
                                               int end_month, int end_day, int end_hour, int end_minute, int end_second,
                                               RecordFileCallback callback, void* context);
/* SD playback: frames arrive on the playback connection's receive thread. */
LUMVARA_API int device_record_file_start(void* handle, const char* file_name, DeviceDataCallback callback,
                                         void* context);
LUMVARA_API int device_record_file_stop(void* handle);
/* Restarts the file at a byte offset of its frame stream. */
LUMVARA_API int device_record_file_set_pos(void* handle, int offset);

LUMVARA_END_DECLS

#endif
