// A page that writes down the USB-key report's calls, one text each:
// "clear 800 2", "800 6 = 0", "800 8 = '1.0'".
#pragma once

#include <string>
#include <vector>

#include "usbkey/usb_key.h"

namespace wayfarer {

class RecordingPage final : public UsbKeyPage {
public:
    std::vector<std::string> calls;

    void ClearState(int32_t category, int32_t item) override {
        calls.push_back("clear " + std::to_string(category) + " " + std::to_string(item));
    }
    void SetState(int32_t category, int32_t item, int32_t value) override {
        calls.push_back(std::to_string(category) + " " + std::to_string(item) + " = " +
                        std::to_string(value));
    }
    void SetState(int32_t category, int32_t item, const std::string& text) override {
        calls.push_back(std::to_string(category) + " " + std::to_string(item) + " = '" + text + "'");
    }

    // The calls after the 24 clears every run starts with.
    std::vector<std::string> Reports() const {
        return calls.size() < 24 ? calls : std::vector<std::string>(calls.begin() + 24, calls.end());
    }
};

}  // namespace wayfarer
