// Parsing stats_report's arguments.
#include "report_options.h"

#include <charconv>

namespace installer {
namespace {

template <typename Number>
bool ParseDecimal(std::string_view text, Number& value) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return !text.empty() && error == std::errc() && stop == end;
}

bool ParsePartner(std::string_view text, TallyFilter& filter) {
    const size_t slash = text.find('/');
    int32_t partner = 0;
    if (!ParseDecimal(text.substr(0, slash), partner)) {
        return false;
    }
    filter.partner = partner;
    if (slash == std::string_view::npos) {
        return true;
    }
    int64_t sub = 0;
    if (!ParseDecimal(text.substr(slash + 1), sub)) {
        return false;
    }
    filter.sub_partner = sub;
    return true;
}

}  // namespace

const char* ReportUsage() {
    return "usage: stats_report [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--partner N[/SUB]] [--csv]\n"
           "                    [--html PAGE] [FILE...]\n"
           "Counts the install statistics requests in web server access logs (combined or common\n"
           "format, plain or gzip; standard input when no FILE or \"-\"): per partner and sub-number\n"
           "the installers started (type 1), installs asked for (type 2), installs done (type 0),\n"
           "distinct machines, done as a share of started, failures (type 3) by reason and the\n"
           "median download time and speed of the installs done. Days are inclusive, as the server\n"
           "wrote them. --html also writes the report as one self-contained page to PAGE.\n";
}

bool ParseReportOptions(const std::vector<std::string>& args, ReportOptions& options, std::string& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool takes_value = arg == "--from" || arg == "--to" || arg == "--partner" || arg == "--html";
        if (takes_value && i + 1 == args.size()) {
            error = arg + " needs a value";
            return false;
        }
        if (arg == "--from" || arg == "--to") {
            LogDay day = 0;
            if (!ParseIsoDay(args[++i], day)) {
                error = arg + " takes a day as YYYY-MM-DD, not \"" + args[i] + "\"";
                return false;
            }
            (arg == "--from" ? options.filter.first_day : options.filter.last_day) = day;
        } else if (arg == "--partner") {
            if (!ParsePartner(args[++i], options.filter)) {
                error = "--partner takes a partner number, optionally with /SUB, not \"" + args[i] + "\"";
                return false;
            }
        } else if (arg == "--html") {
            options.html_path = args[++i];
            if (options.html_path.empty()) {
                error = "--html needs a file name";
                return false;
            }
        } else if (arg == "--csv") {
            options.csv = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
            return false;
        } else {
            options.files.push_back(arg);
        }
    }
    if (options.filter.first_day && options.filter.last_day && *options.filter.first_day > *options.filter.last_day) {
        error = "--from is after --to";
        return false;
    }
    if (options.files.empty()) {
        options.files.push_back("-");
    }
    return true;
}

}  // namespace installer
