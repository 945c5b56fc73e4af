// dvkc_bench: runs every benchmark, then prints one table of the side-by-side
// figures (median, p90, and each median's ratio to the other peers of the
// same benchmark, all from this run). With DVKC_BENCH_OUT set to a
// directory, also writes the table there (table.txt), the cost per record by
// record count (per_record.dat) and a gnuplot script that draws it
// (per_record.gp, making per_record.png).
#include <benchmark/benchmark.h>

#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The order in which peers are listed: the library first, then its peers
// (the floor last of them), then the tool.
const std::vector<std::string> kPeerOrder = {"library",     "library document", "library envelope", "libcurl",
                                             "pugixml",     "strstr",           "snprintf",         "floor",
                                             "tool jobs 1", "tool jobs 4"};

struct Figure {
    std::string peer;
    double median = 0;
    double p90 = 0;
    double cpu = 0;
};

struct Row {
    std::string family;  // BM_Exchange, BM_Parse, BM_Build
    std::string arg;     // "tls:13", "1000"
    std::vector<Figure> figures;
    double peak_rss_kb = 0;
};

class CollectingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) {
                continue;
            }
            Row row{run.run_name.function_name, run.run_name.args, {}, 0};
            for (const std::string &peer : kPeerOrder) {
                const auto median = run.counters.find(peer + " med");
                const auto p90 = run.counters.find(peer + " p90");
                const auto cpu = run.counters.find(peer + " cpu");
                if (median != run.counters.end() && p90 != run.counters.end() && cpu != run.counters.end()) {
                    row.figures.push_back({peer, median->second.value, p90->second.value, cpu->second.value});
                }
            }
            if (const auto rss = run.counters.find("peak RSS kB"); rss != run.counters.end()) {
                row.peak_rss_kb = rss->second.value;
            }
            if (!row.figures.empty()) {
                rows.push_back(row);
            }
        }
    }

    std::vector<Row> rows;
};

std::string title_of(const Row &row)
{
    if (row.family == "BM_Exchange") {
        return "exchange, TLS 1." + row.arg.substr(row.arg.find(':') + 2) + " (us per call)";
    }
    if (row.family == "BM_ToolBatches") {
        return "batches of " + row.arg.substr(row.arg.find(':') + 1) + " record(s) against dvkc serve (us per batch)";
    }
    if (row.family == "BM_Parse") {
        return "parse, " + row.arg + " records (ns per record)";
    }
    if (row.family == "BM_Build") {
        return "build, " + row.arg + " records (ns per record)";
    }
    return row.family + "/" + row.arg;
}

std::string table_of(const std::vector<Row> &rows)
{
    std::ostringstream out;
    char line[256];
    for (const Row &row : rows) {
        out << title_of(row) << "\n";
        for (const Figure &figure : row.figures) {
            std::snprintf(line, sizeof line, "  %-17s median %9.1f  p90 %9.1f  cpu %9.1f |", figure.peer.c_str(),
                          figure.median, figure.p90, figure.cpu);
            out << line;
            for (const Figure &other : row.figures) {
                if (&other != &figure && other.median > 0 && other.cpu > 0) {
                    std::snprintf(line, sizeof line, " %5.2fx (cpu %5.2fx) %s", figure.median / other.median,
                                  figure.cpu / other.cpu, other.peer.c_str());
                    out << line;
                }
            }
            out << "\n";
        }
        if (row.peak_rss_kb > 0) {
            out << "  peak RSS of the benchmark process: " << static_cast<long>(row.peak_rss_kb) << " kB\n";
        }
    }
    return out.str();
}

// One line per record count: the median cost per record of every peer of the
// parse and build benchmarks ("-" where a peer has no figure).
void write_plot(const std::vector<Row> &rows, const std::string &dir)
{
    const std::vector<std::pair<std::string, std::string>> columns = {
        {"BM_Parse", "library"},          {"BM_Parse", "pugixml"},          {"BM_Parse", "strstr"},
        {"BM_Build", "library document"}, {"BM_Build", "library envelope"}, {"BM_Build", "snprintf"}};
    std::map<long, std::vector<std::string>> by_count;
    for (const Row &row : rows) {
        if (row.family != "BM_Parse" && row.family != "BM_Build") {
            continue;
        }
        std::vector<std::string> &values = by_count[std::atol(row.arg.c_str())];
        values.resize(columns.size(), "-");
        for (const Figure &figure : row.figures) {
            for (std::size_t c = 0; c < columns.size(); ++c) {
                if (columns[c].first == row.family && columns[c].second == figure.peer) {
                    values[c] = std::to_string(figure.median);
                }
            }
        }
    }
    std::ofstream data(dir + "/per_record.dat");
    data << "# records parse:library parse:pugixml parse:strstr build:document build:envelope build:snprintf\n";
    for (const auto &[count, values] : by_count) {
        data << count;
        for (const std::string &value : values) {
            data << ' ' << value;
        }
        data << '\n';
    }
    std::ofstream script(dir + "/per_record.gp");
    script << "set terminal png size 1100,480\n"
              "set output '"
           << dir
           << "/per_record.png'\n"
              "set datafile missing '-'\n"
              "set logscale xy\nset xlabel 'records'\nset ylabel 'ns per record (median, log scale)'\n"
              "set key top right\nset grid\n"
              "set multiplot layout 1,2\n"
              "set title 'parse a whole answer'\n"
              "plot '"
           << dir
           << "/per_record.dat' using 1:2 with linespoints title 'iParse\\_DVKResponsePKT', "
              "'' using 1:3 with linespoints title 'pugixml', '' using 1:4 with linespoints title 'strstr'\n"
              "set title 'build the request'\n"
              "plot '"
           << dir
           << "/per_record.dat' using 1:5 with linespoints title 'iMake\\_DVKReqPKT', "
              "'' using 1:6 with linespoints title 'iMake\\_DVKRequestPKT', "
              "'' using 1:7 with linespoints title 'snprintf'\n"
              "unset multiplot\n";
}

}  // namespace

int main(int argc, char **argv)
{
    signal(SIGPIPE, SIG_IGN);  // the floor writes on a plain socket
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const std::string table = table_of(reporter.rows);
    std::printf(
        "\nSide by side, from this run: median and p90 of the elapsed time, median of the CPU time;\n"
        "ratio = this median / the other's median (in brackets: the same for CPU time):\n%s",
        table.c_str());
    if (const char *dir = std::getenv("DVKC_BENCH_OUT"); dir != nullptr && *dir != '\0') {
        std::ofstream(std::string(dir) + "/table.txt") << table;
        write_plot(reporter.rows, dir);
    }
    return 0;
}
