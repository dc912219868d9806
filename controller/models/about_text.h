// The About page's status text: whether the driver answers, the configured sensor model and
// the driver's live figures, then the product block. Every line goes through the translation
// system (context "AboutText"), so the Chinese comes from the installed translator.
#pragma once

#include <QString>
#include <cstdint>

#include "protocol/registry.h"

namespace kv::controller {

// "S" when the X electrodes (2 x Split0) outnumber the Y electrodes, else "B", then the
// channel count: "S64", "B16".
QString ModelName(int32_t split0, int32_t split1, int32_t muxSize);

// The fixed product and contact block that ends the text (and fills the page at first).
QString AboutProductBlock();

// The whole text from the records and the transport's connected flag.
QString BuildAboutText(const Registry& registry, bool connected);

}  // namespace kv::controller
