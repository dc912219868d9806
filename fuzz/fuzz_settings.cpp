// DRIVER.INI on arbitrary bytes: the reader fills a registry from any text; writing that
// registry out and reading it into a fresh one must give the same file again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "driver/settings/settings_file.h"
#include "protocol/registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    kv::Registry registry(kv::ProgramRole::Driver);
    kv::ApplySettingsDefaults(registry);
    kv::ApplySettingsText(text, registry);
    const std::string written = kv::FormatSettings(registry);

    kv::Registry fresh(kv::ProgramRole::Driver);
    kv::ApplySettingsDefaults(fresh);
    kv::ApplySettingsText(written, fresh);
    if (kv::FormatSettings(fresh) != written) {
        std::abort();
    }
    return 0;
}
