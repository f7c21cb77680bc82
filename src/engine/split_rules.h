#pragma once

// The split and page rules of the video output, shared by the window and by
// the headless output so that both show, and step over, the same channels.

namespace tv {

// Applies a request for `split` cells at `page` to the current split and page
// of `channelCount` channels. The split must be 1 .. channelCount; a
// negative page moves to the next page of the same split (wrapping), or to
// page 0 of a new split. 0, with the current split and page unchanged, when
// refused.
inline int ApplySplitRule(int channelCount, int split, int page, int* currentSplit,
                          int* currentPage) {
    // A split of 0 has no cells and no pages; it is refused like a negative one.
    if (split <= 0 || split > channelCount) {
        return 0;
    }
    if (page >= 0) {
        *currentPage = page;
    } else if (split == *currentSplit) {
        const int pages = (channelCount + split - 1) / split;
        *currentPage = *currentPage + 1 >= pages ? 0 : *currentPage + 1;
    } else {
        *currentPage = 0;
    }
    *currentSplit = split;
    return 1;
}

} // namespace tv
