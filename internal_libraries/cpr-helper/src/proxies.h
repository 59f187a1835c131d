// The proxies that the Windows settings of the logged-on user name for one request URL.
#pragma once

#include <cpr/cprtypes.h>
#include <cpr/proxies.h>

namespace CprHelper {

// The request URL's scheme mapped to the first proxy that automatic detection, the
// configuration script or the static list names ("host:port"), or an empty table. In session 0
// the settings are read as the active session's user. Never throws: failures are logged and
// give an empty table. Runs on the calling thread, which it may impersonate meanwhile.
cpr::Proxies GetProxies(const cpr::Url& url);

}  // namespace CprHelper
