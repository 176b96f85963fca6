#include "app/bfish/BfishCommandLine.h"

#include "app/bfish/BfishCipher.h"

#include "platform/UniqueFd.h"

#include <sodium.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <utility>

namespace bfish {
namespace {

bool IsOption(const std::string& arg) {
    return !arg.empty() && arg[0] == '/';
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// "/x:value" with the letter in either case.
bool IsValueOption(const std::string& arg, char letter) {
    return arg.size() >= 3 && arg[0] == '/' && LowerAscii(arg[1]) == letter && arg[2] == ':';
}

bool IsFlag(const std::string& arg, char letter) {
    return arg.size() == 2 && arg[0] == '/' && LowerAscii(arg[1]) == letter;
}

ParseResult Refuse(std::string error) {
    ParseResult result;
    result.error = std::move(error);
    return result;
}

// The whole input, unchanged; false with `error` set when it cannot be read
// or is too long to be a password.
bool ReadPassword(int fd, std::string& password, std::string& error) {
    // Sized once, so no copy of the password is left behind by a reallocation.
    password.assign(kMaxInputPassword + 1, '\0');
    const std::int64_t got = ReadFull(fd, password.data(), password.size());
    if (got < 0) {
        error =
            std::string("cannot read the password from standard input: ") + std::strerror(errno);
        return false;
    }
    if (static_cast<std::size_t>(got) > kMaxInputPassword) {
        error = "the password on standard input is longer than " +
                std::to_string(kMaxInputPassword) + " bytes";
        return false;
    }
    password.resize(static_cast<std::size_t>(got));
    return true;
}

} // namespace

ParseResult ParseArguments(const std::vector<std::string>& args) {
    Options options;
    bool haveInput = false;
    bool haveOutput = false;
    bool havePassword = false;
    bool encrypt = false;
    bool decrypt = false;
    bool afterPassword = false;

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool followsPassword = std::exchange(afterPassword, false);
        if (IsValueOption(arg, 'i')) {
            if (haveInput) {
                return Refuse("/i: is given more than once");
            }
            options.input = arg.substr(3);
            haveInput = true;
        } else if (IsValueOption(arg, 'o')) {
            if (haveOutput) {
                return Refuse("/o: is given more than once");
            }
            options.output = arg.substr(3);
            haveOutput = true;
        } else if (IsValueOption(arg, 'p')) {
            if (havePassword) {
                return Refuse("/P: is given more than once");
            }
            // The caller passes the password unquoted, so a password with blanks arrives as
            // several arguments; they run up to the next option.
            options.password = arg.substr(3);
            while (i + 1 < args.size() && !IsOption(args[i + 1])) {
                options.password += ' ';
                options.password += args[++i];
            }
            options.passwordFromInput = options.password == "-";
            havePassword = true;
            afterPassword = true;
        } else if (IsFlag(arg, 'e')) {
            encrypt = true;
        } else if (IsFlag(arg, 'd')) {
            decrypt = true;
        } else if (IsFlag(arg, 'q')) {
            options.quiet = true;
        } else if (followsPassword) {
            // Most likely a password word that begins with "/": never echo it.
            return Refuse("unknown option after the password (a password word cannot begin "
                          "with \"/\")");
        } else if (IsOption(arg)) {
            return Refuse("unknown option \"" + arg + "\"");
        } else {
            return Refuse("unexpected argument \"" + arg + "\"");
        }
    }

    if (!haveInput || options.input.empty()) {
        return Refuse("the input file is missing (/i:)");
    }
    if (!haveOutput || options.output.empty()) {
        return Refuse("the output file is missing (/o:)");
    }
    if (!havePassword) {
        return Refuse("the password is missing (/P:)");
    }
    if (encrypt == decrypt) {
        return Refuse("give exactly one of /e (encrypt) and /d (decrypt)");
    }
    options.mode = encrypt ? Mode::Encrypt : Mode::Decrypt;

    ParseResult result;
    result.ok = true;
    result.options = std::move(options);
    return result;
}

std::string UsageText() {
    return "usage: bfish /i:INPUT /o:OUTPUT /P:PASSWORD (/e | /d) [/q]\n"
           "  /e encrypts INPUT into OUTPUT, /d decrypts it; /q runs without questions.\n"
           "  /P:- reads the password from standard input, every byte of it (a final\n"
           "  newline too), so it never shows in the process list.\n"
           "  OUTPUT is replaced only when the whole result is written and verified.\n";
}

int RunTool(const std::vector<std::string>& args, std::ostream& err, int passwordInput) {
    ParseResult parsed = ParseArguments(args);
    if (!parsed.ok) {
        err << "bfish: " << parsed.error << '\n' << UsageText();
        return kExitUsage;
    }
    Options& options = parsed.options;
    std::string error;
    if (options.passwordFromInput && !ReadPassword(passwordInput, options.password, error)) {
        sodium_memzero(options.password.data(), options.password.size());
        err << "bfish: " << error << '\n';
        return kExitFailure;
    }
    const CipherResult result = options.mode == Mode::Encrypt
                                    ? Encrypt(options.input, options.output, options.password)
                                    : Decrypt(options.input, options.output, options.password);
    sodium_memzero(options.password.data(), options.password.size());
    if (!result.ok) {
        err << "bfish: " << result.message << '\n';
        return kExitFailure;
    }
    return kExitSuccess;
}

} // namespace bfish
