#include "tools/tavix-probe/device_command.h"

#include <cstdio>
#include <iostream>

#include "tools/tavix-probe/commands.h"

namespace tavix::probe {

bool ParseDeviceArguments(const std::vector<std::string>& positional, size_t from,
                          DeviceArguments& device, std::string& error) {
    if (positional.size() < from + 4) {
        error = "HOST PORT USER PASSWORD are needed";
        return false;
    }
    int port = 0;
    if (positional[from].empty()) {
        error = "empty HOST";
        return false;
    }
    if (!ParseNumber(positional[from + 1], 1, 65535, &port)) {
        error = "bad PORT " + positional[from + 1];
        return false;
    }
    device.host = positional[from];
    device.port = port;
    device.user = positional[from + 2];
    device.password = positional[from + 3];
    if (device.password == "-" && !std::getline(std::cin, device.password)) {
        error = "PASSWORD - found no line on standard input";
        return false;
    }
    return true;
}

std::string JsonText(const std::string& bytes) {
    std::string out = "\"";
    size_t i = 0;
    while (i < bytes.size()) {
        auto lead = static_cast<unsigned char>(bytes[i]);
        size_t length = lead < 0x80             ? 1
                        : (lead & 0xE0) == 0xC0 ? 2
                        : (lead & 0xF0) == 0xE0 ? 3
                        : (lead & 0xF8) == 0xF0 ? 4
                                                : 0;
        bool valid = length > 0 && i + length <= bytes.size();
        for (size_t k = 1; valid && k < length; ++k)
            valid = (static_cast<unsigned char>(bytes[i + k]) & 0xC0) == 0x80;
        if (!valid) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        if (lead == '"' || lead == '\\') {
            out += '\\';
            out += static_cast<char>(lead);
        } else if (lead < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", lead);
            out += escaped;
        } else {
            out.append(bytes, i, length);
        }
        i += length;
    }
    return out + "\"";
}

}  // namespace tavix::probe
