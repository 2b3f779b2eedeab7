#include "LogConversion.h"

#include <filesystem>

#include "Displogfile.h"
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
            outcome.Text = DispLogOpenFailure(log, outcome.Code);
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
    return outcome.Text;
}
