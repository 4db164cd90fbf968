// The JSON answers of outside servers (the notice service, the event log): read as the launcher
// reads any server's text, and never trusted to be well formed.
#pragma once

#include <json/json.h>

#include <string>

namespace kwrt {

// Decodes `body` (UTF-8, else the ANSI code page) and parses it into `root`. False for anything
// the reader refuses, an answer nested deeper than the reader goes among them: a hostile answer
// is a malformed one, never an exception.
bool ParseServerJson(const std::string& body, Json::Value* root);

}  // namespace kwrt
