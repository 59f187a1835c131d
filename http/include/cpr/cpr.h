// The part of cpr that the program uses.
#pragma once

#include "cpr/body.h"
#include "cpr/callback.h"
#include "cpr/cprtypes.h"
#include "cpr/error.h"
#include "cpr/low_speed.h"
#include "cpr/proxies.h"
#include "cpr/response.h"
#include "cpr/session.h"
#include "cpr/ssl_options.h"
#include "cpr/timeout.h"
