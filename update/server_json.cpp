#include "update/server_json.h"

#include <exception>

#include "core/codepage.h"
#include "core/text.h"

namespace kwrt {

bool ParseServerJson(const std::string& body, Json::Value* root) {
    try {
        Json::Reader reader;
        return reader.parse(WideToAnsi(DecodeServerText(body)), *root);
    } catch (const std::exception&) {
        // JsonCpp throws past its nesting limit ("Exceeded stackLimit").
        *root = Json::Value();
        return false;
    }
}

}  // namespace kwrt
