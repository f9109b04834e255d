#include "render/render_args.h"

#include "render/single_quoted.h"

namespace {

constexpr const char* kFrequencyAccepted =
    "give hertz from 0.10 to 50.00 with a dot or a comma and at most two decimals, such as 7.80 or 7,8";
constexpr const char* kSoundAccepted = "give one of none, binaural, beeps, noise";
const std::string kMaxSecondsText = std::to_string(kMaxRenderSeconds);
const std::string kSecondsAccepted =
    "give a positive length in seconds of at most " + kMaxSecondsText + " (what a WAV file can hold), such as 60 or 2.5";
constexpr const char* kOptionsAccepted =
    "accepted: --frequency HZ, --sound MODE, --seconds S, --output FILE, --help";

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Splits "123", "123.4" or "123,45" into its whole and decimal digits; anything else
// (signs, exponents, spaces, a bare separator, a second separator) is not a number.
bool splitDecimal(std::string_view text, std::string_view& whole, std::string_view& decimals)
{
    std::size_t i = 0;
    while (i < text.size() && isDigit(text[i]))
        ++i;
    if (i == 0)
        return false;
    whole = text.substr(0, i);
    decimals = {};
    if (i == text.size())
        return true;
    if (text[i] != '.' && text[i] != ',')
        return false;
    const std::size_t start = ++i;
    while (i < text.size() && isDigit(text[i]))
        ++i;
    if (i == start || i != text.size())
        return false;
    decimals = text.substr(start);
    return true;
}

std::string_view stripLeadingZeros(std::string_view digits)
{
    while (!digits.empty() && digits.front() == '0')
        digits.remove_prefix(1);
    return digits;
}

std::uint64_t digitsValue(std::string_view digits)
{
    std::uint64_t v = 0;
    for (char c : digits)
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    return v;
}

std::string frequencyMessage(NumberStatus status, std::string_view text)
{
    const std::string what = "--frequency " + singleQuoted(text);
    switch (status) {
    case NumberStatus::TooManyDecimals: return what + " has more than two decimals; " + kFrequencyAccepted;
    case NumberStatus::OutOfRange:
    case NumberStatus::Zero:
    case NumberStatus::NoFrames: return what + " is out of range; " + kFrequencyAccepted;
    default: return what + " is not a frequency; " + kFrequencyAccepted;
    }
}

std::string secondsMessage(NumberStatus status, std::string_view text)
{
    const std::string what = "--seconds " + singleQuoted(text);
    switch (status) {
    case NumberStatus::Zero: return what + " is not positive; " + kSecondsAccepted;
    case NumberStatus::NoFrames:
        return what + " is shorter than one sound frame (1/44100 s); " + kSecondsAccepted;
    case NumberStatus::OutOfRange: return what + " is longer than " + kMaxSecondsText + " seconds; " + kSecondsAccepted;
    default: return what + " is not a positive number; " + kSecondsAccepted;
    }
}

} // namespace

NumberStatus parseFrequency(std::string_view text, std::uint32_t& hundredths)
{
    std::string_view whole, decimals;
    if (!splitDecimal(text, whole, decimals))
        return NumberStatus::NotANumber;
    if (decimals.size() > 2)
        return NumberStatus::TooManyDecimals;
    whole = stripLeadingZeros(whole);
    if (whole.size() > 2) // 100 Hz and up: out of range, and no overflow on the way
        return NumberStatus::OutOfRange;
    std::uint64_t value = digitsValue(whole) * 100;
    if (!decimals.empty())
        value += digitsValue(decimals) * (decimals.size() == 1 ? 10 : 1);
    if (!isValidFrequency(static_cast<std::uint32_t>(value)))
        return NumberStatus::OutOfRange;
    hundredths = static_cast<std::uint32_t>(value);
    return NumberStatus::Ok;
}

NumberStatus parseSecondsToFrames(std::string_view text, std::uint64_t& frames)
{
    std::string_view whole, decimals;
    if (!splitDecimal(text, whole, decimals))
        return NumberStatus::NotANumber;
    whole = stripLeadingZeros(whole);
    if (whole.size() > 6) // a million seconds and up: far too long, and no overflow on the way
        return NumberStatus::OutOfRange;

    // decimals * 44100, digit by digit from the right: what carries out of the
    // decimal point is whole frames; the first digit left behind decides the rounding.
    std::uint64_t carry = 0;
    char firstLeft = '0';
    bool anyDecimal = false;
    for (std::size_t i = decimals.size(); i-- > 0;) {
        const std::uint64_t d = static_cast<std::uint64_t>(decimals[i] - '0');
        anyDecimal = anyDecimal || d != 0;
        const std::uint64_t x = d * kSampleRate + carry;
        firstLeft = static_cast<char>('0' + x % 10);
        carry = x / 10;
    }
    if (whole.empty() && !anyDecimal)
        return NumberStatus::Zero;
    const std::uint64_t total = digitsValue(whole) * kSampleRate + carry + (firstLeft >= '5' ? 1 : 0);
    if (total == 0)
        return NumberStatus::NoFrames;
    const std::uint64_t wholeSeconds = digitsValue(whole);
    if (wholeSeconds > kMaxRenderSeconds || (wholeSeconds == kMaxRenderSeconds && anyDecimal))
        return NumberStatus::OutOfRange;
    frames = total;
    return NumberStatus::Ok;
}

// The names are the core's one table; a view is not terminated, so it is copied.
bool parseSoundName(std::string_view text, SoundMode& mode)
{
    return parseSoundModeName(std::string(text).c_str(), &mode);
}

const std::string& renderUsage()
{
    static const std::string usage =
           "Usage: zarvelin-render [--frequency HZ] [--sound MODE] --seconds S --output FILE\n"
           "Writes the sound of a stimulation session to a WAV file (16-bit stereo PCM, 44100 Hz):\n"
           "the frames a session plays from its start.\n"
           "\n"
           "  --frequency HZ  stimulation frequency, 0.10 to 50.00, a dot or a comma and at most\n"
           "                  two decimals (default 7.80)\n"
           "  --sound MODE    none, binaural, beeps or noise (default binaural)\n"
           "  --seconds S     length in seconds, positive, at most " + kMaxSecondsText + "; the file holds\n"
           "                  round(S * 44100) frames\n"
           "  --output FILE   the WAV file to write; an existing file is replaced only once\n"
           "                  the new one is complete, keeping its permissions and owner, and\n"
           "                  a symbolic link keeps pointing to it; - writes to standard\n"
           "                  output (a pipe or a file, not a terminal)\n"
           "  --help          show this text\n"
           "\n"
           "Exit status: 0 done, 2 bad arguments, 1 the file could not be written,\n"
           "130 interrupted (Ctrl+C, the terminal closed, or asked to stop by a signal).\n"
           "Example: zarvelin-render --frequency 7.80 --sound binaural --seconds 60 --output session.wav\n";
    return usage;
}

ParseResult parseRenderArgs(int argc, const char* const* argv)
{
    ParseResult result;
    bool haveFrequency = false, haveSound = false, haveSeconds = false, haveOutput = false;
    auto fail = [&result](std::string message) {
        result.status = ParseStatus::Error;
        result.error = std::move(message);
        return result;
    };

    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            result.status = ParseStatus::Help;
            result.error.clear();
            return result;
        }
        if (arg.size() < 2 || arg[0] != '-')
            return fail("unexpected argument " + singleQuoted(arg) + "; " + kOptionsAccepted);

        std::string_view name = arg;
        std::string_view value;
        bool inlineValue = false;
        if (const std::size_t eq = arg.find('='); eq != std::string_view::npos && arg.starts_with("--")) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            inlineValue = true;
        }
        bool* seen = nullptr;
        if (name == "--frequency")
            seen = &haveFrequency;
        else if (name == "--sound")
            seen = &haveSound;
        else if (name == "--seconds")
            seen = &haveSeconds;
        else if (name == "--output")
            seen = &haveOutput;
        else
            return fail("unknown option " + singleQuoted(name) + "; " + kOptionsAccepted);

        if (!inlineValue) {
            // An option right behind is a forgotten value, not a value.
            if (i + 1 >= argc || std::string_view(argv[i + 1]).starts_with("--"))
                return fail(std::string(name) + " needs a value; " + kOptionsAccepted);
            value = argv[++i];
        }
        if (*seen)
            return fail(std::string(name) + " is given more than once; give each option once");
        *seen = true;

        if (name == "--frequency") {
            const NumberStatus s = parseFrequency(value, result.args.frequency);
            if (s != NumberStatus::Ok)
                return fail(frequencyMessage(s, value));
        } else if (name == "--sound") {
            if (!parseSoundName(value, result.args.sound))
                return fail("--sound " + singleQuoted(value) + " is not a sound; " + kSoundAccepted);
        } else if (name == "--seconds") {
            const NumberStatus s = parseSecondsToFrames(value, result.args.frames);
            if (s != NumberStatus::Ok)
                return fail(secondsMessage(s, value));
        } else {
            if (value.empty())
                return fail("--output is empty; give the path of the WAV file to write");
            result.args.output = std::string(value);
        }
    }
    if (!haveSeconds)
        return fail(std::string("missing --seconds; ") + kSecondsAccepted);
    if (!haveOutput)
        return fail("missing --output; give the path of the WAV file to write, such as --output session.wav");
    result.status = ParseStatus::Run;
    return result;
}
