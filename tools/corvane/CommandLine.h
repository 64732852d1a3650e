// Options and arguments of one command.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Tool.h"

namespace Tool {

/// One option a command accepts: a short letter (0 for none), a long name
/// (without "--") and whether it takes a value.
struct TOption {
    char Short;
    std::string_view Long;
    bool TakesValue;
};

/// Splits a command's arguments into options and operands, in the usual
/// way: "-o FILE", "-oFILE", "--output FILE", "--output=FILE"; letters of
/// options without a value may share one dash ("-kv"); options and operands
/// may come in any order; "--" ends the options and "-" is an operand. An
/// unknown option, a missing value, or a value given to an option that takes
/// none raises a usage error saying which.
class TCommandLine {
public:
    TCommandLine(std::initializer_list<TOption> options, const TArgs& args);

    /// Whether the option called longName was given.
    bool Has(std::string_view longName) const;
    /// The value given last to the option called longName; empty when not given.
    std::string Value(std::string_view longName) const;
    /// Every value given to the option called longName, in order.
    std::vector<std::string> Values(std::string_view longName) const;
    /// The operands, in order.
    const TArgs& Operands() const noexcept { return FOperands; }

private:
    const TOption* FindLong(std::string_view name) const;
    const TOption* FindShort(char letter) const;

    std::vector<TOption> FOptions;
    std::vector<std::pair<std::string, std::string>> FGiven;
    TArgs FOperands;
};

}  // namespace Tool
