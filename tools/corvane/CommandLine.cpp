#include "CommandLine.h"

namespace Tool {

// Walks the arguments once, taking values from the same or the next argument.
TCommandLine::TCommandLine(std::initializer_list<TOption> options, const TArgs& args) : FOptions(options) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            FOperands.insert(FOperands.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            break;
        }
        if (arg.size() < 2 || arg[0] != '-') {
            FOperands.push_back(arg);
            continue;
        }
        if (arg[1] == '-') {
            const std::size_t eq = arg.find('=');
            const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
            const TOption* option = FindLong(name);
            if (option == nullptr) UsageError("unknown option " + Quoted("--" + name));
            std::string value;
            if (option->TakesValue) {
                if (eq != std::string::npos)
                    value = arg.substr(eq + 1);
                else if (i + 1 < args.size())
                    value = args[++i];
                else
                    UsageError("option " + Quoted("--" + name) + " needs a value");
            } else if (eq != std::string::npos) {
                UsageError("option " + Quoted("--" + name) + " takes no value");
            }
            FGiven.emplace_back(option->Long, std::move(value));
            continue;
        }
        // One or more short options after a single dash.
        for (std::size_t j = 1; j < arg.size(); ++j) {
            const TOption* option = FindShort(arg[j]);
            if (option == nullptr) UsageError("unknown option " + Quoted(std::string("-") + arg[j]));
            if (!option->TakesValue) {
                FGiven.emplace_back(option->Long, std::string());
                continue;
            }
            std::string value;
            if (j + 1 < arg.size())
                value = arg.substr(j + 1);
            else if (i + 1 < args.size())
                value = args[++i];
            else
                UsageError("option " + Quoted(std::string("-") + arg[j]) + " needs a value");
            FGiven.emplace_back(option->Long, std::move(value));
            break;
        }
    }
}

bool TCommandLine::Has(std::string_view longName) const {
    for (const auto& [name, value] : FGiven)
        if (name == longName) return true;
    return false;
}

std::string TCommandLine::Value(std::string_view longName) const {
    std::string result;
    for (const auto& [name, value] : FGiven)
        if (name == longName) result = value;
    return result;
}

std::vector<std::string> TCommandLine::Values(std::string_view longName) const {
    std::vector<std::string> result;
    for (const auto& [name, value] : FGiven)
        if (name == longName) result.push_back(value);
    return result;
}

const TOption* TCommandLine::FindLong(std::string_view name) const {
    for (const TOption& option : FOptions)
        if (option.Long == name) return &option;
    return nullptr;
}

const TOption* TCommandLine::FindShort(char letter) const {
    for (const TOption& option : FOptions)
        if (option.Short != 0 && option.Short == letter) return &option;
    return nullptr;
}

}  // namespace Tool
