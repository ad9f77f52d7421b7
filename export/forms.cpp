// SPDX-License-Identifier: MIT
#include "export/forms.h"

#include <cstdio>
#include <ctime>

#include "chip/field_value.h"
#include "chip/hex_byte.h"
#include "chip/xq4620.h"
#include "export/script_lines.h"

namespace exporter {

const char *formatName(Format format) {
    switch (format) {
    case Format::C:
        return "c";
    case Format::I2cTransfer:
        return "i2ctransfer";
    case Format::Python:
        return "python";
    case Format::Shell:
        return "shell";
    }
    return "";
}

std::optional<Format> parseFormat(std::string_view name) {
    for (const Format f : {Format::C, Format::I2cTransfer, Format::Python, Format::Shell}) {
        if (name == formatName(f))
            return f;
    }
    return std::nullopt;
}

std::string formatList(bool recordableOnly) {
    return recordableOnly ? "shell, python and i2ctransfer" : "c, i2ctransfer, python and shell";
}

std::string localTime(std::chrono::system_clock::time_point time) {
    const std::time_t t = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    localtime_r(&t, &local);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &local);
    return text;
}

std::string commentText(std::string_view text, Format format) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool cClose = format == Format::C && c == '/' && i > 0 && text[i - 1] == '*';
        const bool trigraph = format == Format::C && c == '?' && i > 0 && text[i - 1] == '?';
        if (c < 0x20 || c >= 0x7F || cClose || trigraph) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string fieldWords(uint8_t reg, uint8_t value) {
    std::string out;
    for (const chip::Field *f : chip::fieldsOf(reg))
        out += (out.empty() ? "" : " ") + std::string(f->name) + "=" +
               chip::typedText(*f, f->valueIn(value));
    return out;
}

namespace {

std::string cHeader(const std::vector<regfile::Entry> &entries, const Origin &origin) {
    const auto comment = [](const std::string &text) { return commentText(text, Format::C); };
    std::string out = "/* XQ4620 set-up for firmware, exported by " + comment(origin.writer) +
                      "\n * from " + comment(origin.source) + ", " + localTime(origin.time) +
                      ".\n"
                      " * Write each {reg, value} pair in the array's order, one I2C write of\n"
                      " * two bytes (register, then value) to XQ4620_I2C_ADDRESS each. */\n"
                      "#ifndef XQ4620_SETUP_H\n"
                      "#define XQ4620_SETUP_H\n"
                      "\n"
                      "#include <stdint.h>\n"
                      "\n"
                      "/* The chip's 7-bit I2C address. */\n"
                      "#define XQ4620_I2C_ADDRESS " +
                      chip::hexByte(chip::kDeviceAddress) +
                      "u\n"
                      "\n"
                      "struct xq4620_reg_value {\n"
                      "    uint8_t reg;\n"
                      "    uint8_t value;\n"
                      "};\n"
                      "\n"
                      "static const struct xq4620_reg_value xq4620_setup[] = {\n";
    for (const regfile::Entry &e : entries) {
        out += "    {" + chip::hexByte(e.reg) + ", " + chip::hexByte(e.value) + "}, /* " +
               chip::hexByte(e.reg) + ": " + comment(fieldWords(e.reg, e.value)) + " */\n";
    }
    out += "};\n"
           "\n"
           "#define XQ4620_SETUP_COUNT (sizeof xq4620_setup / sizeof xq4620_setup[0])\n"
           "\n"
           "/* The array is used by this accessor, so that a file including the header\n"
           " * without using the array gets no warning for it. */\n"
           "static inline const struct xq4620_reg_value *xq4620_setup_pairs(void)\n"
           "{\n"
           "    return xq4620_setup;\n"
           "}\n"
           "\n"
           "#endif /* XQ4620_SETUP_H */\n";
    return out;
}

} // namespace

std::string exportSetUp(Format format, const std::vector<regfile::Entry> &entries,
                        const Origin &origin) {
    if (format == Format::C)
        return cHeader(entries, origin);
    std::string out = scriptPreamble(format, false, origin);
    if (format == Format::Python)
        out += "with board.transaction():  # the board held for the whole set-up, as load does\n";
    for (const regfile::Entry &e : entries) {
        out += std::string(format == Format::Python ? "    " : "") +
               writeLine(format, chip::kDeviceAddress, e.reg, e.value) + "  # " +
               commentText(fieldWords(e.reg, e.value), format) + "\n";
    }
    return out;
}

} // namespace exporter
