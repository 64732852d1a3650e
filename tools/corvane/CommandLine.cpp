#include "CommandLine.h"

namespace Tool {

// Walks the arguments once, taking values from the same or the next argument.
TCommandLine::TCommandLine(std::initializer_list<TOption> Options, const TArgs& Args) : FOptions(Options)
{
    for (std::size_t I = 0; I < Args.size(); ++I) {
        const std::string& Arg = Args[I];
        if (Arg == "--") {
            FOperands.insert(FOperands.end(), Args.begin() + static_cast<std::ptrdiff_t>(I) + 1, Args.end());
            break;
        }
        if (Arg.size() < 2 || Arg[0] != '-') {
            FOperands.push_back(Arg);
            continue;
        }
        if (Arg[1] == '-') {
            const std::size_t Eq = Arg.find('=');
            const std::string Name = Arg.substr(2, Eq == std::string::npos ? std::string::npos : Eq - 2);
            const TOption* Option = FindLong(Name);
            if (Option == nullptr) UsageError("unknown option " + Quoted("--" + Name));
            std::string Value;
            if (Option->TakesValue) {
                if (Eq != std::string::npos)
                    Value = Arg.substr(Eq + 1);
                else if (I + 1 < Args.size())
                    Value = Args[++I];
                else
                    UsageError("option " + Quoted("--" + Name) + " needs a value");
            } else if (Eq != std::string::npos) {
                UsageError("option " + Quoted("--" + Name) + " takes no value");
            }
            FGiven.emplace_back(Option->Long, std::move(Value));
            continue;
        }
        // One or more short options after a single dash.
        for (std::size_t J = 1; J < Arg.size(); ++J) {
            const TOption* Option = FindShort(Arg[J]);
            if (Option == nullptr) UsageError("unknown option " + Quoted(std::string("-") + Arg[J]));
            if (!Option->TakesValue) {
                FGiven.emplace_back(Option->Long, std::string());
                continue;
            }
            std::string Value;
            if (J + 1 < Arg.size())
                Value = Arg.substr(J + 1);
            else if (I + 1 < Args.size())
                Value = Args[++I];
            else
                UsageError("option " + Quoted(std::string("-") + Arg[J]) + " needs a value");
            FGiven.emplace_back(Option->Long, std::move(Value));
            break;
        }
    }
}

bool TCommandLine::Has(std::string_view Long) const
{
    for (const auto& [Name, Value] : FGiven)
        if (Name == Long) return true;
    return false;
}

std::string TCommandLine::Value(std::string_view Long) const
{
    std::string Result;
    for (const auto& [Name, Value] : FGiven)
        if (Name == Long) Result = Value;
    return Result;
}

std::vector<std::string> TCommandLine::Values(std::string_view Long) const
{
    std::vector<std::string> Result;
    for (const auto& [Name, Value] : FGiven)
        if (Name == Long) Result.push_back(Value);
    return Result;
}

const TOption* TCommandLine::FindLong(std::string_view Name) const
{
    for (const TOption& Option : FOptions)
        if (Option.Long == Name) return &Option;
    return nullptr;
}

const TOption* TCommandLine::FindShort(char Letter) const
{
    for (const TOption& Option : FOptions)
        if (Option.Short != 0 && Option.Short == Letter) return &Option;
    return nullptr;
}

}  // namespace Tool
