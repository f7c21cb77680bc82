#pragma once

#include <functional>
#include <string>

namespace tv {

// Where the system's message boxes go. The application installs a handler that
// shows a modal message box; headless programs keep the default, which prints
// the text on stderr.
using MessageBoxHandler = std::function<void(const std::string& text, const std::string& caption)>;

void SetMessageBoxHandler(MessageBoxHandler handler);
void ShowMessageBox(const std::string& text, const std::string& caption = "");

} // namespace tv
