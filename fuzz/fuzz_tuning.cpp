// A tuning file for kvctl import: any bytes give sections and settings or the first bad line,
// and what is taken names only known sections and their own fields, each once.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tools/kvctl/tuning_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const kv::kvctl::TuningText parsed = kv::kvctl::ParseTuning(text);
    if (!parsed.error.empty() && (parsed.errorLine < 1 || !parsed.records.empty())) {
        std::abort();
    }
    for (const auto& record : parsed.records) {
        for (const auto& value : record.values) {
            if (value.value.empty() || record.section->Find(value.field) == nullptr) {
                std::abort();
            }
        }
    }
    return 0;
}
