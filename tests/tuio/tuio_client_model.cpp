// The TUIO 1.1 client rules for cursors, applied bundle by bundle.
#include "tuio_client_model.h"

#include <algorithm>

namespace kv::test {

void TuioClientModel::Take(const OscBundle& bundle) {
    const OscMessage* fseq = bundle.Find("fseq");
    const OscMessage* alive = bundle.Find("alive");
    if (!bundle.ok || fseq == nullptr || fseq->ints.size() != 1 || alive == nullptr) {
        return;  // not a frame a client acts on
    }
    const int32_t frame = fseq->ints[0];
    if (frame != -1) {
        const auto last = lastFrameOf_.find(bundle.profile);
        if (last != lastFrameOf_.end() && frame <= last->second) {
            ++outOfOrder_;
        }
        lastFrameOf_[bundle.profile] = frame;
    }
    if (bundle.profile != "/tuio/2Dcur") {
        return;
    }
    if (frame > 0 && frame < currentFrame_ && currentFrame_ - frame <= kLateWindow) {
        ++lateFrames_;
        return;
    }
    if (frame > 0) {
        currentFrame_ = frame;
    }
    for (auto it = cursors_.begin(); it != cursors_.end();) {
        const std::vector<int32_t>& ids = alive->ints;
        if (std::find(ids.begin(), ids.end(), it->first) == ids.end()) {
            events_.push_back({CursorEvent::Kind::Remove, it->first, it->second.x, it->second.y});
            it = cursors_.erase(it);
            ++removals_;
        } else {
            ++it;
        }
    }
    for (const OscMessage* set : bundle.All("set")) {
        if (set->ints.size() != 1 || set->floats.size() < 2) {
            continue;
        }
        const int32_t id = set->ints[0];
        const Position at{set->floats[0], set->floats[1]};
        const bool known = cursors_.count(id) != 0;
        cursors_[id] = at;
        events_.push_back(
            {known ? CursorEvent::Kind::Update : CursorEvent::Kind::Add, id, at.x, at.y});
    }
}

}  // namespace kv::test
