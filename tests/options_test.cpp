// The command line: what each option sets, what goes on to the show as its argument string, and the
// values that are refused with a message.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "shell/shell.h"

namespace {

struct Parsed {
  bool ok;
  CommandLineOptions options;
  std::string error;
};

Parsed parse(std::vector<std::string> words) {
  words.insert(words.begin(), "narvu");
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  Parsed parsed;
  parsed.ok = parseCommandLine(int(argv.size()), argv.data(), &parsed.options, &parsed.error);
  return parsed;
}

TEST(CommandLine, OptionsSetTheSettingsAndTheShowGetsTheOtherWords) {
  Parsed p = parse({"nosound", "--capture", "/tmp/nosound", "--fps", "25", "--size", "1280x960", "--msaa", "4",
                    "--aniso", "8", "--crf", "18", "--from", "30", "--to", "33.5", "--windowed", "choosedrv",
                    "extra"});
  ASSERT_TRUE(p.ok) << p.error;
  const PlatformSettings& s = p.options.settings;
  const CaptureSettings& c = p.options.capture;
  EXPECT_EQ(c.capture_path, "/tmp/nosound");
  EXPECT_EQ(c.fps, 25);
  EXPECT_EQ(s.render_width, 1280);
  EXPECT_EQ(s.render_height, 960);
  EXPECT_EQ(s.msaa_samples, 4);
  EXPECT_EQ(s.anisotropy, 8);
  EXPECT_EQ(c.video_crf, 18);
  EXPECT_EQ(c.capture_from_seconds, 30);
  EXPECT_EQ(c.capture_to_seconds, 33.5);
  EXPECT_TRUE(s.windowed);
  EXPECT_FALSE(p.options.music_only);
  // Option values are not words of the show: "/tmp/nosound" must not turn the sound off by itself.
  EXPECT_EQ(p.options.command_line, "nosound --capture --fps --size --msaa --aniso --crf --from --to --windowed "
                                    "choosedrv extra");
  Parsed screen = parse({"--display", "1", "--vsync", "off"});
  EXPECT_EQ(screen.options.settings.display, 1);
  EXPECT_FALSE(screen.options.settings.vsync);

  Parsed defaults = parse({});
  ASSERT_TRUE(defaults.ok);
  EXPECT_EQ(defaults.options.capture.fps, 60);
  EXPECT_EQ(defaults.options.settings.render_width, 640);
  EXPECT_EQ(defaults.options.capture.capture_to_seconds, -1);
  EXPECT_EQ(defaults.options.settings.display, 0);
  EXPECT_TRUE(defaults.options.settings.vsync);
  EXPECT_FALSE(defaults.options.settings.windowed);
  EXPECT_TRUE(parse({"--vsync", "off", "--vsync", "on"}).options.settings.vsync);
  EXPECT_EQ(defaults.options.command_line, "");
  EXPECT_TRUE(parse({"--music-only"}).options.music_only);
  EXPECT_EQ(parse({"--preset", "ultrafast"}).options.capture.video_preset, "ultrafast");
  EXPECT_TRUE(parse({"--lossless"}).options.capture.video_lossless);
  Parsed part = parse({"--capture", "show.mp4", "--segment", "3/4"});
  ASSERT_TRUE(part.ok) << part.error;
  EXPECT_EQ(part.options.capture.capture_segment, 3);
  EXPECT_EQ(part.options.capture.capture_segments, 4);
  Parsed join = parse({"--join", "show.mp4", "--fps", "25"});
  ASSERT_TRUE(join.ok) << join.error;
  EXPECT_TRUE(join.options.join);
  EXPECT_EQ(join.options.capture.capture_path, "show.mp4");
  EXPECT_EQ(parse({"--capture", "frames", "--jobs", "2"}).options.jobs, 2);
  // The ends of the show are inside it.
  EXPECT_TRUE(parse({"--from", "0", "--to", "107.5"}).ok);
  EXPECT_TRUE(parse({"--from", "107.4"}).ok);
  // --to includes its frame, so an interval of one moment holds one frame.
  EXPECT_TRUE(parse({"--from", "50", "--to", "50"}).ok);
  // Folders may have dots in their names where no extension could be meant, or end in a slash.
  for (const char* folder : {"frames", "run.2", "2026.01.05", "clip.avi/", "shots.d/", ".hidden", "show.MKV"})
    EXPECT_TRUE(parse({"--capture", folder}).ok) << folder;
  Parsed ranges = parse({"--msaa", "16", "--aniso", "16", "--crf", "51", "--fps", "1000"});
  ASSERT_TRUE(ranges.ok) << ranges.error;
  EXPECT_EQ(ranges.options.settings.msaa_samples, 16);
  EXPECT_EQ(ranges.options.capture.fps, 1000);
}

TEST(CommandLine, MissingAndUnfitValuesAreRefusedWithTheirReason) {
  struct Case {
    std::vector<std::string> words;
    const char* error;
  } cases[] = {
      {{"--capture"}, "--capture needs a value (see --help)"},
      {{"--fps", ""}, "--fps needs a value (see --help)"},
      {{"--size", "--windowed"}, "--size needs a value (see --help)"},
      // Every range is in its message.
      {{"--fps", "0"},
       "--fps takes a whole number from 1 to 1000 frames a second (the show's clock counts "
       "milliseconds), not '0'"},
      {{"--fps", "1001"},
       "--fps takes a whole number from 1 to 1000 frames a second (the show's clock counts "
       "milliseconds), not '1001'"},
      {{"--fps", "25fps"},
       "--fps takes a whole number from 1 to 1000 frames a second (the show's clock counts "
       "milliseconds), not '25fps'"},
      {{"--msaa", "-4"}, "--msaa takes 1 (none), 2, 4, 8 or 16 samples, not '-4'"},
      {{"--msaa", "3"}, "--msaa takes 1 (none), 2, 4, 8 or 16 samples, not '3'"},
      {{"--msaa", "32"}, "--msaa takes 1 (none), 2, 4, 8 or 16 samples, not '32'"},
      {{"--crf", "99"}, "--crf takes a whole number from 0 to 51 (lower is better), not '99'"},
      {{"--aniso", "100"}, "--aniso takes a whole number from 1 to 16 (1 is none), not '100'"},
      {{"--aniso", "99999999999999999999"},
       "--aniso takes a whole number from 1 to 16 (1 is none), not '99999999999999999999'"},
      {{"--display", "-1"}, "--display takes a whole number, not '-1'"},
      {{"--display", "second"}, "--display takes a whole number, not 'second'"},
      {{"--vsync", "yes"}, "--vsync takes on or off, not 'yes'"},
      {{"--vsync", "--windowed"}, "--vsync needs a value (see --help)"},
      {{"--from", "-1"}, "--from takes a number of seconds, not '-1'"},
      {{"--to", "nan"}, "--to takes a number of seconds, not 'nan'"},
      {{"--size", "big"}, "--size takes WIDTHxHEIGHT, each from 16 to 16384, for example 1920x1080, not 'big'"},
      {{"--size", "15x480"}, "--size takes WIDTHxHEIGHT, each from 16 to 16384, for example 1920x1080, not '15x480'"},
      {{"--size", "640x480x2"},
       "--size takes WIDTHxHEIGHT, each from 16 to 16384, for example 1920x1080, not '640x480x2'"},
      // 2^32 + 80 wraps to 80 in an int read.
      {{"--size", "4294967376x48"},
       "--size takes WIDTHxHEIGHT, each from 16 to 16384, for example 1920x1080, not '4294967376x48'"},
      {{"--size", "640x4294967776"},
       "--size takes WIDTHxHEIGHT, each from 16 to 16384, for example 1920x1080, not '640x4294967776'"},
      {{"--size", "640x 480"},
       "--size takes WIDTHxHEIGHT, each from 16 to 16384, for example 1920x1080, not '640x 480'"},
      // An interval must lie in the 107.5 s of the show and hold something.
      {{"--from", "1e300"}, "--from takes seconds from 0 to 107.5 (the length of the show), not '1e300'"},
      {{"--from", "inf"}, "--from takes seconds from 0 to 107.5 (the length of the show), not 'inf'"},
      {{"--to", "107.6"}, "--to takes seconds from 0 to 107.5 (the length of the show), not '107.6'"},
      {{"--to", "20", "--from", "30.5"}, "--from 30.5 is after --to 20: the interval holds nothing"},
      // An interval narrower than a frame's period may hold no frame at all, whatever is written.
      {{"--capture", "a.mkv", "--from", "107.4", "--to", "107.5", "--fps", "1"},
       "--from 107.4 --to 107.5 holds no frame at 1 frames a second (one every 1 s); widen the interval or raise "
       "--fps"},
      {{"--from", "10.01", "--to", "10.015"},
       "--from 10.01 --to 10.015 holds no frame at 60 frames a second (one every 0.0166667 s); widen the interval "
       "or raise --fps"},
      // A name with another extension would have become a folder of PNG frames.
      {{"--capture", "clip.avi"},
       "--capture clip.avi: a capture writes videos as .mp4, .mkv or .webm, or PNG frames and audio.wav into a "
       "folder, not .avi; name the video with one of those endings, or give a folder (clip.avi/ keeps that name "
       "for a folder)"},
      {{"--capture", "/tmp/x/Clip.MOV"},
       "--capture /tmp/x/Clip.MOV: a capture writes videos as .mp4, .mkv or .webm, or PNG frames and audio.wav "
       "into a folder, not .MOV; name the video with one of those endings, or give a folder (/tmp/x/Clip.MOV/ "
       "keeps that name for a folder)"},
      {{"--join", "anim.gif"},
       "--join anim.gif: a capture writes videos as .mp4, .mkv or .webm, or PNG frames and audio.wav into a "
       "folder, not .gif; name the video with one of those endings, or give a folder (anim.gif/ keeps that name "
       "for a folder)"},
      // A newline would end a line of the join's list of parts, and what followed would be read as one.
      {{"--capture", "y\nfile /elsewhere/evil.mkv\n#.mkv"},
       "--capture 'y\\nfile /elsewhere/evil.mkv\\n#.mkv': the path holds a control character at byte 2; give a "
       "path without newlines, carriage returns or other control characters"},
      {{"--join", "a\rb.mp4"},
       "--join 'a\\rb.mp4': the path holds a control character at byte 2; give a path without newlines, carriage "
       "returns or other control characters"},
      // x264 would refuse an unknown preset only after the show has loaded.
      {{"--preset", "Medium"},
       "--preset takes one of x264's presets (ultrafast, superfast, veryfast, faster, fast, medium, slow, slower, "
       "veryslow, placebo), not 'Medium'"},
      {{"--lossless", "--crf", "0"},
       "--lossless and --crf do not go together: lossless video has no quality to choose"},
      // Parts: of a capture, one way of making them at a time, and each with at least one frame.
      {{"--capture", "a", "--segment", "-1/2"},
       "--segment takes K/N, a part K from 1 to N (0: the music), for example 2/4, not '-1/2'"},
      {{"--capture", "a", "--segment", "3/2"},
       "--segment takes K/N, a part K from 1 to N (0: the music), for example 2/4, not '3/2'"},
      {{"--capture", "a", "--segment", "2"},
       "--segment takes K/N, a part K from 1 to N (0: the music), for example 2/4, not '2'"},
      {{"--segment", "1/2"}, "--segment needs --capture"},
      {{"--jobs", "2"}, "--jobs needs --capture"},
      {{"--capture", "a", "--jobs", "0"}, "--jobs takes a number of parts from 1 to 64, not '0'"},
      {{"--capture", "a", "--jobs", "2", "--segment", "1/2"},
       "--jobs makes the parts itself; it does not go with --segment"},
      {{"--capture", "a", "--join", "a"},
       "--join takes the path of the capture whose parts it joins; give it without --capture"},
      {{"--join", "a", "--segment", "1/2"}, "--join puts parts together; it does not make them (--segment, --jobs)"},
      {{"--capture", "a", "--fps", "1", "--from", "10", "--to", "12", "--segment", "1/4"},
       "the interval holds 3 frames, too few for 4 parts"},
      {{"--capture", "a", "--fps", "1", "--from", "10", "--to", "10.5", "--segment", "1/2"},
       "the interval holds 1 frame, too few for 2 parts"},
      {{"--capture", "a", "--check", "2"}, "--check lists the parts that --join would join; give it with --join PATH"},
      {{"--join", "a", "--check", "0"}, "--check takes a whole number from 1 to 10000 parts, not '0'"},
  };
  for (const Case& c : cases) {
    Parsed p = parse(c.words);
    EXPECT_FALSE(p.ok) << c.error;
    EXPECT_EQ(p.error, c.error);
  }
}

// The show always ignored words it did not know, and still does; but a word that looks like an option
// and is none is most likely a typing mistake, and the user hears about it.
TEST(CommandLine, UnknownOptionWordsAreIgnoredWithAWarning) {
  Parsed p = parse({"--capure", "frames", "-x", "frobnicate", "--nosound", "--choosedrv", "--windowed", "--"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.options.warnings, (std::vector<std::string>{"unknown option '--capure' ignored; see --help",
                                                          "unknown option '--' ignored; see --help"}));
  EXPECT_EQ(p.options.command_line, "--capure frames -x frobnicate --nosound --choosedrv --windowed --");
  EXPECT_TRUE(p.options.capture.capture_path.empty());
  EXPECT_TRUE(parse({"--windowed"}).options.warnings.empty());
}

TEST(CommandLine, HelpEndsTheParsingAndVersionIsAnOption) {
  Parsed p = parse({"--fps", "30", "--help", "--fps", "zero"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_TRUE(p.options.help);
  EXPECT_TRUE(parse({"-h"}).options.help);
  Parsed version = parse({"--version"});
  EXPECT_TRUE(version.options.version);
  EXPECT_FALSE(version.options.help);
  EXPECT_NE(std::string(kCommandLineUsage).find("--capture DIR"), std::string::npos);
}

}  // namespace
