// Recording of delivered sensor reports.
#include "driver/sim/recording_sensor_link.h"

namespace kv::sim {

bool RecordingSensorLink::Start(const std::string& path) {
    healthy_ = writer_.Open(path, kBoardName, kBoardVendor, kBoardProduct, kBoardReportDescriptor);
    startMs_ = clock_.NowMs();
    return healthy_;
}

int32_t RecordingSensorLink::Read(uint8_t* dest, size_t capacity) {
    const int32_t result = inner_.Read(dest, capacity);
    const size_t delivered = inner_.LastDelivered();
    // The board's reports are unnumbered: the file holds them as the board sends them,
    // without the report ID the link puts at index 0.
    if (healthy_ && delivered > 1) {
        healthy_ = writer_.Write((clock_.NowMs() - startMs_) * 1000, dest + 1, delivered - 1);
    }
    return result;
}

}  // namespace kv::sim
