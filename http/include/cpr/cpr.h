// The part of cpr that the program uses.
#pragma once

#include "body.h"
#include "callback.h"
#include "cprtypes.h"
#include "error.h"
#include "low_speed.h"
#include "proxies.h"
#include "response.h"
#include "session.h"
#include "ssl_options.h"
#include "timeout.h"
