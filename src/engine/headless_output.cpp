#include "engine/headless_output.h"

#include "engine/split_rules.h"

namespace tv {

int CHeadlessOutput::Render(int channel, const SYSTEMTIME&, const uint8_t* picture, int width,
                            int height) {
    std::lock_guard<std::mutex> lock(m_lock);
    return channel >= 0 && channel < m_channelCount && picture != nullptr && width > 0 && height > 0
               ? 1
               : 0;
}

void CHeadlessOutput::SetChannelCount(int count) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (count >= 1 && count <= 16) {
        m_channelCount = count;
    }
}

int CHeadlessOutput::GetChannelCount() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_channelCount;
}

int CHeadlessOutput::SetSplit(int split, int page) {
    std::lock_guard<std::mutex> lock(m_lock);
    return ApplySplitRule(m_channelCount, split, page, &m_split, &m_page);
}

int CHeadlessOutput::GetSplit(int* split, int* page) const {
    std::lock_guard<std::mutex> lock(m_lock);
    if (split != nullptr) {
        *split = m_split;
    }
    if (page != nullptr) {
        *page = m_page;
    }
    return m_split;
}

int CHeadlessOutput::SetShowTime(int flag) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_showTime = flag ? 1 : 0;
    return 1;
}

int CHeadlessOutput::GetShowTime() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_showTime;
}

int CHeadlessOutput::SetUseDirectDraw(int on) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_useDirectDraw = on ? 1 : 0;
    return 1;
}

int CHeadlessOutput::GetUseDirectDraw() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_useDirectDraw;
}

} // namespace tv
