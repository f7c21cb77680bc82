#pragma once

// The application's posted window messages: the numbers and the event class
// live with the video window, which posts some of them; the header needs only Qt.
#include "display/messages.h"
