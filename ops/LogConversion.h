#pragma once
// Converting one .displog into its .csv beside it, for the window and
// tessaly-cli alike: the conversion's failures come back as an outcome the
// front end reports, instead of as exceptions.
#include <cstdint>
#include <string>

#include "LogCsv.h"

enum class ConversionEnd {
    Converted,
    SameFile,    // the log is named .csv: its conversion would replace it
    Unreadable,  // the log cannot be read (Code holds the reader's result)
    BadInterval, // the interval does not fit the log (Text says why)
    NoTimeAxis,  // the log's samples have no time axis (Text says why); nothing is written
    WriteFailed, // the CSV cannot be created or written, or would not fit (Text, naming the file)
    Stopped,     // the stop flag was raised; the partial file is removed
};

struct ConversionOutcome {
    ConversionEnd End = ConversionEnd::Converted;
    uint32_t Code = 0;
    // Why it failed; for Converted, a remark worth showing ("the log holds no samples ...") or empty.
    std::string Text;
    std::string CsvPath;
};

[[nodiscard]] ConversionOutcome ConvertLog(const std::string& log, float interval, const CsvOptions& options);

// Why a conversion failed, in the words both front ends show: "not a display log: bad
// signature (ERR_FILE_SIG)", "no such file (ERR_FILE_IHV)" (DispLogOpenFailure) or the text of
// the conversion's refusal.
std::string ConversionFailureReason(const ConversionOutcome& outcome);
