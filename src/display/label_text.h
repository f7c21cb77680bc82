#pragma once

#include <string>

#include "platform/win_types.h"

namespace tv {

// The picture time in a channel label: the local time formatted with strftime
// rules into at most 128 bytes; empty when the time cannot be represented or
// the result does not fit.
std::string FormatLabelTime(const SYSTEMTIME& time, const std::string& format);

// "CH<n> " for channel index n - 1, followed by the picture time when times
// are shown, the channel has a picture and its time stamp has a year from
// 1900 on.
std::string MakeLabelText(int channel, const SYSTEMTIME& time, bool showTime, bool hasPicture,
                          const std::string& format);

} // namespace tv
