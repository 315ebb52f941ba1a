#include "RatioSummary.h"

#include <cstdio>

void RatioSummary::ReportRuns (const std::vector<Run>& runs)
{
    benchmark::ConsoleReporter::ReportRuns (runs);

    for (const auto& run : runs)
    {
        const auto isAggregate = run.run_type == Run::RT_Aggregate;

        if (run.error_occurred || (isAggregate && run.aggregate_name != "min"))
            continue;

        const auto counter = run.counters.find ("per_frame");

        if (counter != run.counters.end())
            secondsPerFrame[run.run_name.function_name + "/" + run.run_name.args] = counter->second.value;
    }
}

double RatioSummary::nsPerFrame (const std::string& function, const std::string& args) const
{
    const auto found = secondsPerFrame.find (function + "/" + args);
    return found != secondsPerFrame.end() ? found->second * 1.0e9 : -1.0;
}

void RatioSummary::printSummary (const char* kernels) const
{
    struct Configuration
    {
        const char* args;
        const char* name;
    };

    const Configuration configurations[] = { { "48000/6", "5.1, 48 kHz" },
                                             { "96000/6", "5.1, 96 kHz" },
                                             { "192000/6", "5.1, 192 kHz" },
                                             { "44100/2", "stereo, 44.1 kHz" } };

    std::printf ("\nTime per frame in ns (%s kernels); ratios to libebur128 with M, S, I, LRA and true peak\n", kernels);
    std::printf ("%-18s %8s %9s %8s %10s %9s %11s %11s\n",
                 "", "audio", "loudness", "both", "ebur128", "no TP", "audio/lib", "both/lib");

    for (const auto& configuration : configurations)
    {
        const auto audio = nsPerFrame ("BM_AudioThread", configuration.args);
        const auto loudness = nsPerFrame ("BM_LoudnessThread", configuration.args);
        const auto full = nsPerFrame ("BM_Ebur128Full", configuration.args);
        const auto noTruePeak = nsPerFrame ("BM_Ebur128NoTruePeak", configuration.args);

        if (audio < 0.0 || loudness < 0.0 || full <= 0.0)
            continue;

        std::printf ("%-18s %8.2f %9.2f %8.2f %10.2f", configuration.name, audio, loudness, audio + loudness, full);

        if (noTruePeak > 0.0)
            std::printf (" %9.2f", noTruePeak);
        else
            std::printf (" %9s", "-");

        std::printf (" %11.3f %11.3f\n", audio / full, (audio + loudness) / full);
    }

    std::printf ("\nTrue-peak detector alone, 6 channels, ns per frame\n");

    for (const auto& configuration : configurations)
    {
        const std::string rate (configuration.args, std::string (configuration.args).find ('/'));
        const auto plain = nsPerFrame ("BM_TruePeak", rate);

        if (plain < 0.0 || configuration.args[rate.size() + 1] != '6')
            continue;

        std::printf ("%-18s %8.2f\n", configuration.name, plain);
    }
}
