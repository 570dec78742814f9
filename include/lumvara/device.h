/* Public API: camera devices, stream frames and camera parameter records (device_net_work_*, device_record_file_*). */
#ifndef LUMVARA_DEVICE_H
#define LUMVARA_DEVICE_H

#include <lumvara/export.h>

#endif
