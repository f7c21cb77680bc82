#include "platform/notifier.h"

#include <cstdio>
#include <mutex>

namespace tv {

namespace {
std::mutex g_handlerMutex;
MessageBoxHandler g_handler;
} // namespace

void SetMessageBoxHandler(MessageBoxHandler handler) {
    std::lock_guard lock(g_handlerMutex);
    g_handler = std::move(handler);
}

void ShowMessageBox(const std::string& text, const std::string& caption) {
    MessageBoxHandler handler;
    {
        std::lock_guard lock(g_handlerMutex);
        handler = g_handler;
    }
    if (handler) {
        handler(text, caption);
        return;
    }
    if (caption.empty()) {
        std::fprintf(stderr, "%s\n", text.c_str());
    } else {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    }
}

} // namespace tv
