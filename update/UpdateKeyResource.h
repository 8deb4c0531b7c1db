// The update key built into a launcher (RCDATA, its base64 text), present only when it has one:
// a copy of the program can be checked for it without being run. Included by the resource script.
#pragma once

#define IDR_UPDATE_KEY "KVO_UPDATE_KEY"
