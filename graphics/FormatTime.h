#pragma once
// The time text of the status bar, the document title and the time axis: "1:23.250",
// "12:03.500", "83" or, in the hours form, "1:02:03".
#include <string>

// minutesForm: m:ss (the seconds taken within the minute); hoursForm: h:mm:ss. Without the
// minutes form the text is the whole seconds. decimals digits of the fraction follow a ".".
std::string FormatTime(double seconds, int decimals, bool minutesForm, bool hoursForm);
