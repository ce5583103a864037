#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

// A second, deliberately plain decoder of the module's event reports: one byte at a time, one
// text, no colours, every event written out by hand instead of through the event table. The fuzz
// target and the soak benchmark hold the console's decoder to it, so a fault in the table or in
// the fast piece writer shows up as a difference. It follows the console on damaged reports: a
// report whose last position is not the end byte is closed by a line break.
class ReferenceDecoder
{
public:
    // The text the bytes add, "\r\n" line ends included.
    std::string Feed(std::string_view bytes)
    {
        std::string out;
        for (const char c : bytes)
            Byte(static_cast<std::uint8_t>(c), out);
        return out;
    }

private:
    void Byte(std::uint8_t b, std::string& out)
    {
        out += Hex2(b);
        if (m_position < 0) {
            if (b != 0x02) {
                out += ' ';
                return;
            }
            m_position = 0;
        }
        if (m_position == 1)
            m_binary = (b & 0x80) != 0;
        m_report[m_position] = b;
        const int length = m_binary ? 8 : 11;
        if (m_position < length - 1) {
            out += ' ';
            ++m_position;
            return;
        }
        m_position = -1;
        if (b != 0x03) {
            out += "\r\n";
            return;
        }
        out += " : ";
        const std::string meaning = m_binary ? Binary() : Text();
        if (!meaning.empty())
            out += meaning + "\r\n";
    }

    static std::string Hex2(unsigned v)
    {
        char s[3];
        std::snprintf(s, sizeof s, "%02X", v & 0xFF);
        return s;
    }
    static std::string Dec(long v) { return std::to_string(v); }
    // Two digits with a leading zero, of a larger value the last two, "-" before a negative one.
    static std::string Two(long v)
    {
        const unsigned long magnitude = v < 0 ? 0ul - static_cast<unsigned long>(v) : v;
        char s[4];
        std::snprintf(s, sizeof s, "%s%02lu", v < 0 ? "-" : "", magnitude % 100);
        return s;
    }

    // A text-form field as the settings' hex parse reads it: every "0x" taken out, then strtol
    // in base 16 (blanks, a sign and a "0X" prefix included), 0 when no digit leads.
    long Field(int at, int width) const
    {
        std::string text(reinterpret_cast<const char*>(m_report + at), width);
        for (std::size_t x; (x = text.find("0x")) != std::string::npos;)
            text.erase(x, 2);
        return std::strtol(text.c_str(), nullptr, 16);
    }
    long Word(int at) const { return long{m_report[at]} << 8 | m_report[at + 1]; }

    // state: 1 set, 0 clear, anything else unknown.
    static std::string Bracket(int state, const char* set, const char* clear,
                               const std::string& rest)
    {
        if (state == 1)
            return set + rest;
        if (state == 0)
            return clear + rest;
        return " (?)";
    }

    std::string Binary() const
    {
        const std::uint8_t* r = m_report;
        switch (r[1]) {
        case 0x81:
            return "$on_click" + Bracket(r[3], " (down : ctrl ", " (up : ctrl ", Dec(r[2]) + ")");
        case 0x8C:
            return "$on_screen_touch" + Bracket(r[4], " (down : screen ", " (up : screen ",
                                                Dec(r[2]) + ", ctrl " + Dec(r[3]) + ")");
        case 0x82:
            return "$on_check" + Bracket(r[3], " (on : ctrl ", " (off : ctrl ", Dec(r[2]) + ")");
        case 0x83:
            return "$on_position (ctrl " + Dec(r[2]) + " : " + Dec(Word(3)) + ")";
        case 0x84:
            return "$on_touch" +
                   Bracket(r[2], " (down : ", " (up : ", Dec(Word(3)) + "," + Dec(Word(5)) + ")");
        case 0x85:
            return "$on_key_press (ascii code=&H" + Hex2(r[2]) + ")";
        case 0x86:
            return "$on_date (" + Dec(Word(2)) + "/" + Dec(r[4]) + "/" + Dec(r[5]) + ")";
        case 0x87:
            return "$on_time (" + Two(r[2]) + ":" + Two(r[3]) + ":" + Two(r[4]) + ")";
        }
        return Plain(r[1] - 0x80);
    }

    std::string Text() const
    {
        const std::uint8_t* r = m_report;
        if (r[1] != '8')
            return {};
        int code;
        if (r[2] >= '1' && r[2] <= '9')
            code = r[2] - '0';
        else if (r[2] >= 'A' && r[2] <= 'C')
            code = r[2] - 'A' + 10;
        else
            return {};
        const auto state = [r](int at) { return r[at] == '1' ? 1 : r[at] == '0' ? 0 : -1; };
        switch (code) {
        case 1:
            return "$on_click" +
                   Bracket(state(5), " (down : ctrl ", " (up : ctrl ", Dec(Field(3, 2)) + ")");
        case 12:
            return "$on_screen_touch" +
                   Bracket(state(7), " (down : screen ", " (up : screen ",
                           Dec(Field(3, 2)) + ", ctrl " + Dec(Field(5, 2)) + ")");
        case 2:
            return "$on_check" +
                   Bracket(state(5), " (on : ctrl ", " (off : ctrl ", Dec(Field(3, 2)) + ")");
        case 3:
            return "$on_position (ctrl " + Dec(Field(3, 2)) + " : " + Dec(Field(5, 4)) + ")";
        case 4:
            return "$on_touch" +
                   Bracket(state(3),
                           " (down : ", " (up : ", Dec(Field(4, 3)) + "," + Dec(Field(7, 3)) + ")");
        case 5:
            return "$on_key_press (ascii code=&H" + Hex2(r[3]) + ")";
        case 6:
            return "$on_date (" + Dec(Field(3, 3)) + "/" + Dec(Field(6, 1)) + "/" +
                   Dec(Field(7, 2)) + ")";
        case 7:
            return "$on_time (" + Two(Field(3, 2)) + ":" + Two(Field(5, 2)) + ":" +
                   Two(Field(7, 2)) + ")";
        }
        return Plain(code);
    }

    // The four events without parameters, by their number 8 to 11; none for any other.
    static std::string Plain(int code)
    {
        switch (code) {
        case 8:
            return "$on_buffer_warning";
        case 9:
            return "$on_buffer_overflow";
        case 10:
            return "$on_lcd_state";
        case 11:
            return "$on_checksum_error";
        }
        return {};
    }

    int m_position = -1;
    bool m_binary = false;
    std::uint8_t m_report[11] = {};
};
