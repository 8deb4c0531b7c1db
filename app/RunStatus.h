// What the progress labels say of the run.
#pragma once
#include <cstdint>
#include <string>

/// The progress label's text: "<percent> %(<position>/<count>)", e.g. "37 %(2/5)". The percentage
/// is the whole part of received * 100 / announced, computed without overflow; 100 when nothing
/// was announced.
std::string DownloadProgressText(std::uint32_t received, std::uint32_t announced, int position, int count);
