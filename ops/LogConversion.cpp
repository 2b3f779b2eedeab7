#include "LogConversion.h"

#include <filesystem>

#include "LocalFiles.h"
#include "PathText.h"
#include "ResultCodes.h"

ConversionOutcome ConvertLog(const std::string& log, float interval, const CsvOptions& options)
{
    ConversionOutcome outcome;
    outcome.CsvPath = CsvPathForLog(log);
    std::error_code same;
    if (outcome.CsvPath == log || std::filesystem::equivalent(PathFromUtf8(outcome.CsvPath), PathFromUtf8(log), same)) {
        outcome.End = ConversionEnd::SameFile;
        outcome.Text = "the CSV file would replace the log itself";
        return outcome;
    }
    try {
        CsvSummary summary;
        outcome.Code = ConvertLogFileToCsv(log, outcome.CsvPath, interval, options, &summary);
        if (outcome.Code != 0) {
            outcome.End = ConversionEnd::Unreadable;
            // A log that cannot be opened: say what stands at that path.
            if (outcome.Code == ERR_FILE_IHV)
                outcome.Text = LocalFileProblem(PathFromUtf8(log));
        }
        // A header without rows is not to pass for a conversion of data.
        else if (summary.Channels == 0)
            outcome.Text = "the log holds no samples, so the CSV has its header line only";
    } catch (const CsvIntervalError& error) {
        outcome.End = ConversionEnd::BadInterval;
        outcome.Text = error.what();
    } catch (const CsvNoTimeAxisError& error) {
        outcome.End = ConversionEnd::NoTimeAxis;
        outcome.Text = error.what();
    } catch (const CsvWriteError& error) {
        outcome.End = ConversionEnd::WriteFailed;
        outcome.Text = error.what();
    } catch (const CsvStoppedError& error) {
        outcome.End = ConversionEnd::Stopped;
        outcome.Text = error.what();
    }
    return outcome;
}

std::string ConversionFailureReason(const ConversionOutcome& outcome)
{
    if (outcome.End != ConversionEnd::Unreadable)
        return outcome.Text;
    const std::string name = " (" + ResultCodeName(outcome.Code) + ")";
    switch (outcome.Code) {
    case ERR_FILE_SIG: return "not a display log: bad signature" + name;
    case ERR_FILE_IHV: return (outcome.Text.empty() ? std::string("cannot be opened") : outcome.Text) + name;
    case ERR_FILE_READ: return "cannot be read: the log is cut short or damaged" + name;
    default: return "cannot read the log" + name;
    }
}
