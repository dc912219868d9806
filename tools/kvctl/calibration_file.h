// The calibration keys of DRIVER.INI (the three references and the angle), rewritten in the
// file's own text: the driver takes no calibration from other programs, but it reads its file
// again when asked (Store/DoLoad).
#pragma once

#include <string>
#include <string_view>

#include "protocol/registry.h"

namespace kv::kvctl {

// The identity calibration: each reference's sensor position is its screen target (the
// driver's defaults), taken at angle 0.
void SetIdentityCalibration(Registry& records);

// Whether two registries hold the same calibration: the three references and the angle.
bool SameCalibration(const Registry& a, const Registry& b);

// text with every line the driver would take for a calibration key replaced by that key's
// value in the records, written as the driver writes it; a key without a line is added at the
// end. Every other byte stays, line ends included.
std::string WithCalibration(std::string_view text, const Registry& records);
// text with the line of every key whose value differs between from and to replaced by its
// value in to (added at the end where it has none); every other byte stays.
std::string WithChangedSettings(std::string_view text, const Registry& from, const Registry& to);

}  // namespace kv::kvctl
