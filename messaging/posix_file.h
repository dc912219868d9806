// Small file-descriptor helpers both programs use when they write their settings files.
#pragma once

#include <string_view>

namespace kv {

// Writes all of text to fd, going on after short writes and interrupted calls; false on the
// first real failure (errno then says why).
bool WriteAll(int fd, std::string_view text);

}  // namespace kv
