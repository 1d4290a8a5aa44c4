// SHA-256 of what is sent to an adapter, for the job history: a file's name says little, its hash
// says which program went out.
#pragma once

#include <string>

namespace tray {

// The SHA-256 of `bytes` in lower-case hex; "" when the platform cannot make it.
std::string Sha256Hex(const std::string& bytes);

}  // namespace tray
