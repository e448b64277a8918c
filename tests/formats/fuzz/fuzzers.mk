# Builds the reader fuzzers with clang and libFuzzer; run-all.sh calls it as
#   make -f fuzzers.mk ROOT=<repository> OUT=<build folder> TARGETS="wav aiff ..."
# Objects carry their header dependencies, so a second build only redoes what changed.
CXX := clang++-14
CXXFLAGS := -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
            -fno-omit-frame-pointer -I$(ROOT) -MMD -MP
# The format library itself: sanitizer and coverage instrumentation, no libFuzzer main.
LIBFLAGS := $(subst -fsanitize=fuzzer,-fsanitize=fuzzer-no-link,$(CXXFLAGS))
LDLIBS := -lmpg123 $(shell pkg-config --libs sndfile) -ldl
HERE := $(ROOT)/tests/formats/fuzz

FORMATS := $(wildcard $(ROOT)/formats/*.cpp $(ROOT)/formats/sndfile/*.cpp $(ROOT)/formats/ffmpeg/*.cpp)
LIBOBJ := $(patsubst $(ROOT)/formats/%.cpp,$(OUT)/obj/formats/%.o,$(FORMATS))

# target name -> extension the probe table is given
ext_wav := .wav
ext_wav-adpcm := .wav
ext_aiff := .aiff
ext_au := .au
ext_voc := .voc
ext_8svx := .8svx
ext_mp3 := .mp3
ext_mp2 := .mp2
ext_mod := .mod
ext_mid := .mid
ext_flac := .flac
ext_ogg := .ogg
ext_opus := .opus
ext_m4a := .m4a
ext_aac := .aac
ext_wv := .wv
ext_ape := .ape

all: $(addprefix $(OUT)/bin/,$(TARGETS))

$(OUT)/obj/formats/%.o: $(ROOT)/formats/%.cpp $(HERE)/fuzzers.mk
	@mkdir -p $(@D)
	$(CXX) $(LIBFLAGS) -c $< -o $@

$(OUT)/obj/main-%.o: $(HERE)/ReaderFuzz.cpp $(HERE)/fuzzers.mk
	@mkdir -p $(@D)
	$(CXX) $(CXXFLAGS) '-DFUZZ_EXTENSION="$(ext_$*)"' -c $< -o $@

$(OUT)/obj/main-raw.o: $(HERE)/RawReadFuzz.cpp $(HERE)/fuzzers.mk
	@mkdir -p $(@D)
	$(CXX) $(CXXFLAGS) -c $< -o $@

$(OUT)/bin/%: $(OUT)/obj/main-%.o $(LIBOBJ)
	@mkdir -p $(@D)
	$(CXX) $(CXXFLAGS) $^ $(LDLIBS) -o $@

.PHONY: all
.SECONDARY:
-include $(wildcard $(OUT)/obj/*.d $(OUT)/obj/formats/*.d)
