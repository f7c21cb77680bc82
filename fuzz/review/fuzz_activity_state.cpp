// Arbitrary bytes as the scanner state of an activity cache: the restore
// stays inside its buffers and bounds its memory by the bytes it is given,
// and a state it takes gives an index in time order and saves back to
// the same bytes again.
#include "review/activity_index.h"
#include "review/activity_scanner.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (const bool disk : {false, true}) {
        tv::ActivityScanOptions options;
        options.disk = disk;
        tv::CActivityScanner scanner;
        if (!scanner.RestoreState(data, size, options)) {
            continue;
        }
        // A flag may read back as 1 from any non-zero byte; past that, what
        // is saved restores and saves again to the same bytes.
        std::vector<uint8_t> saved, again;
        scanner.SaveState(&saved);
        if (saved.size() != size || !scanner.RestoreState(saved.data(), saved.size(), options)) {
            std::abort();
        }
        scanner.SaveState(&again);
        if (again != saved) {
            std::abort();
        }
        tv::CActivityIndex index;
        scanner.GetIndex(&index);
        const auto& s = index.Seconds();
        for (size_t i = 1; i < s.size(); ++i) {
            if (s[i].time <= s[i - 1].time) {
                std::abort();
            }
        }
        (void)index.FindEvents(tv::kDefaultActivityThreshold);
        std::vector<uint8_t> flat;
        index.Serialize(&flat);
        tv::CActivityIndex back;
        if (!back.Deserialize(flat.data(), flat.size()) || back.Seconds().size() != s.size()) {
            std::abort();
        }
    }
    tv::CActivityIndex index;
    (void)index.Deserialize(data, size);
    return 0;
}
