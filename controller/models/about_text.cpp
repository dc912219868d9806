// The About page's status text, line by line as the page shows it.
#include "controller/models/about_text.h"

#include <QCoreApplication>

namespace kv::controller {
namespace {

QString Tr(const char* text) {
    return QCoreApplication::translate("AboutText", text);
}

// A translated line with printf fields (all %d); the translation keeps the fields of its
// source. The values are record fields, read once here as the int that printf takes.
QString TrFormat(const char* text, auto... values) {
    return QString::asprintf(Tr(text).toUtf8().constData(), static_cast<int>(values)...);
}

}  // namespace

QString ModelName(int32_t split0, int32_t split1, int32_t muxSize) {
    const int64_t xCount = 2 * static_cast<int64_t>(split0);
    return (xCount > split1 ? QStringLiteral("S") : QStringLiteral("B")) + QString::number(muxSize);
}

QString AboutProductBlock() {
    return Tr("\nProduct: Kelvarin Vyren\n") + Tr("Product version: 10.3.3\n") +
           Tr("Technical support: support@kelvarin.example\n") +
           Tr("Manufacturer: Kelvarin Touch Systems\n") +
           Tr("Web site: https://kelvarin.example\n");
}

QString BuildAboutText(const Registry& registry, bool connected) {
    const int32_t split0 = registry.splitState.Split0;
    const int32_t split1 = registry.splitState.Split1;
    const int32_t muxSize = registry.commsReqState.MuxSize;
    // The X count as the page computes it, in 32-bit arithmetic that wraps rather than
    // overflows on a nonsense record.
    const int xCount = static_cast<int32_t>(2u * static_cast<uint32_t>(split0));

    QString text;
    text += connected ? Tr("Load driver: Successfully! \n") : Tr("Load driver: Failure! \n");
    text += Tr("Driver version: ") + ModelName(split0, split1, muxSize) + QStringLiteral("\n\n");
    text += TrFormat("Number of Sensors : %d (X=%d, Y=%d) \n", muxSize, xCount, split1);
    text += TrFormat("Sampling rate : %d \n", registry.commsActStatus.FramesLastPeriod);
    text += TrFormat("Threshold level: %d \n", registry.senseState.PressThreshold);
    text += TrFormat("Sensitivity level : %d \n", registry.senseState.CoarseRange);
    text += AboutProductBlock();
    return text;
}

}  // namespace kv::controller
