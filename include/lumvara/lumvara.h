/* Lumvara: a client library for IP network cameras.
   This umbrella header declares the whole public C API. */
#ifndef LUMVARA_LUMVARA_H
#define LUMVARA_LUMVARA_H

#include <lumvara/export.h>
#include <lumvara/log.h>
#include <lumvara/device.h>
#include <lumvara/search.h>
#include <lumvara/window.h>
#include <lumvara/player.h>
#include <lumvara/record.h>
#include <lumvara/audio.h>
#include <lumvara/module.h>

#endif
