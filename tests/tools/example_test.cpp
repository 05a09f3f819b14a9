// The bundled example, examples/little-waltz.mid: its writer reproduces it
// byte for byte, and the tool shows what was written into it.
#include "tool_runner.h"

using nlohmann::json;

namespace {

const std::string kExample = std::string(VSX_SOURCE_DIR) + "/examples/little-waltz.mid";

std::vector<int> Sorted(std::vector<int> v) {
    std::sort(v.begin(), v.end());
    return v;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(Example, WriterReproducesTheBundledFile) {
    SKIP_WITHOUT_TOOL();
#if defined(VSX_MAKE_EXAMPLE_PATH) && !defined(_WIN32)
    TempFile written(Bytes{});
    ToolRun run = RunProgram(VSX_MAKE_EXAMPLE_PATH, {written.Path()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::string bundled = ReadWholeFile(kExample);
    ASSERT_FALSE(bundled.empty()) << kExample;
    EXPECT_TRUE(ReadWholeFile(written.Path()) == bundled) << "regenerate it with vastrel_make_example";
#endif
}

// The notes of every measure, both hands, as composed (a note held over a
// bar line counts in both measures).
TEST(Example, EveryMeasureHoldsTheComposedPitches) {
    SKIP_WITHOUT_TOOL();
    const std::vector<std::vector<int>> hands[] = {
        {{67, 71, 74, 79}, {78, 76, 74, 72}, {71, 69, 67}, {69, 71, 72}, {72, 71, 69, 67}, {74, 76, 78, 71},
         {71, 74, 79, 69, 72, 78}, {71, 74, 79}, {78, 76, 74, 73, 74, 69}, {71, 73, 74}, {76, 78, 79, 76, 73},
         {62, 66, 69, 74}},
        {{43, 47, 50, 47, 50}, {38, 48, 54, 48, 54}, {43, 47, 50, 47, 50}, {38, 48, 54, 48, 54},
         {40, 47, 52, 55, 47, 52, 55}, {48, 52, 55, 52, 55}, {38, 45, 48, 54}, {43}, {38, 45, 54, 45},
         {43, 47, 50, 47}, {45, 49, 52, 49}, {38, 45}},
    };
    for (int hand = 0; hand < 2; ++hand) {
        json doc = JsonOf(RunTool({"show", kExample, "--track", std::to_string(hand), "--json"}));
        const json measures = StaffMeasures(doc["track"]);
        ASSERT_EQ(measures.size(), 12u) << hand;
        for (size_t m = 0; m < 12; ++m)
            EXPECT_EQ(MeasurePitches(measures[m]), Sorted(hands[hand][m])) << "hand " << hand << ", measure " << m + 1;
    }
}

// What the conductor track and the composition put into the model.
TEST(Example, JsonShowsMeterKeyTempoVoicesTiesAndRests) {
    SKIP_WITHOUT_TOOL();
    json right = JsonOf(RunTool({"show", kExample, "--json"}))["track"];
    EXPECT_EQ(right["name"], "Right hand");
    EXPECT_EQ(right["instrument"], "Acoustic grand piano");
    const json m = StaffMeasures(right);
    ASSERT_EQ(m.size(), 12u);
    struct Change {
        size_t measure;
        int numerator, denominator, key, tempo;
    } changes[] = {{0, 3, 4, 1, 100}, {8, 2, 4, 2, 120}};
    for (const Change& c : changes) {
        EXPECT_EQ(m[c.measure]["numerator"], c.numerator);
        EXPECT_EQ(m[c.measure]["denominator"], c.denominator);
        EXPECT_EQ(m[c.measure]["key"], c.key);
        EXPECT_EQ(m[c.measure]["tempo"], c.tempo);
        EXPECT_EQ(m[c.measure]["keyAccidentals"].size(), static_cast<size_t>(c.key));
    }
    EXPECT_EQ(m[3]["tiedOut"], 1);  // the C held into measure 5
    EXPECT_EQ(m[5]["voices"], 2);   // melody over a held B

    size_t rests = 0, beamed = 0, sixteenths = 0;
    for (const json& measure : m)
        for (const json& s : measure["sections"])
            for (const json& c : s["chords"]) {
                if (c["value"] != 0 && c["notes"].empty()) ++rests;
                if (c["beamNext"] == 1) ++beamed;
                if (c["value"] == 16) ++sixteenths;
            }
    EXPECT_GE(rests, 2u);
    EXPECT_GE(beamed, 4u);
    EXPECT_EQ(sixteenths, 8u);

    json left = JsonOf(RunTool({"show", kExample, "--track", "1", "--json"}))["track"];
    EXPECT_EQ(left["name"], "Left hand");
    for (const json& measure : StaffMeasures(left)) EXPECT_EQ(measure["clefInForce"], 2) << measure["number"];
}

// The README's first command, and what a reader sees first.
TEST(Example, TextReadsAsAScore) {
    SKIP_WITHOUT_TOOL();
    ToolRun right = RunTool({"show", kExample});
    ASSERT_EQ(right.exitCode, 0) << right.err;
    EXPECT_EQ(right.err, "");
    const char* rightParts[] = {
        "A Little Waltz, track 0: Right hand\n",
        "Measure 1 at tick 0: 3/4, key G major / E minor (1 sharp): F#5, tempo 100, treble clef, 1 voice\n",
        "  voice 1  G4(67",
        "Measure 4 at tick 4320: 1 voice, tied over the bar line\n",
        "~C5(72",
        "Measure 6 at tick 7200: 2 voices\n",
        "Measure 9 at tick 11520: 2/4, key D major / B minor (2 sharps): F#5 C#5, tempo 120, 1 voice\n",
        "C5(73",  // C sharp, written without a sign in D major
        "/16",
    };
    for (const char* part : rightParts) EXPECT_TRUE(Contains(right.out, part)) << part << "\n" << right.out;

    ToolRun left = RunTool({"show", kExample, "--track", "1"});
    EXPECT_TRUE(Contains(left.out, "key G major / E minor (1 sharp): F#3, tempo 100, bass clef")) << left.out;
    // Strings and frets of the sounding pitch, as the readable notation fingers them.
    EXPECT_TRUE(Contains(left.out, "[B2(47,s5f2) D3(50,s4f0)]/4")) << left.out;

    ToolRun info = RunTool({"info", kExample});
    EXPECT_TRUE(Contains(info.out, "Right hand  Acoustic grand piano (program 0)  48 notes  12 measures")) << info.out;
    EXPECT_TRUE(Contains(info.out, "  tick 11520  2/4\n")) << info.out;
}
