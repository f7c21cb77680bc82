// Arbitrary profile text through the reader, the eighteen settings, a write
// back and a second read: nothing outside buffers, and what was written reads
// back as written.
#include "skin/profile.h"
#include "skin/settings.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    tv::CProfile profile;
    profile.SetText(text);
    tv::ViewerSettings settings;
    tv::LoadSettings(profile, &settings);
    tv::SaveSettings(settings, &profile);

    tv::CProfile again;
    again.SetText(profile.Text());
    tv::ViewerSettings reread;
    tv::LoadSettings(again, &reread);
    tv::CProfile third;
    tv::SaveSettings(reread, &third);
    tv::CProfile fourth;
    tv::SaveSettings(settings, &fourth);
    if (third.Text() != fourth.Text()) {
        std::abort(); // a value did not survive its own write and read
    }
    (void)tv::CProfile::ParseInt(text);
    return 0;
}
