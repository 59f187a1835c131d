#include "common/system_message.h"

#include <win_error.h>

std::string SystemMessage(DWORD number) {
    return win_error::system_category().message(static_cast<int>(number));
}
