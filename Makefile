# Front door. Each target installs what is missing on a Debian 12 machine (apt as root, or sudo).
.PHONY: all deps build demo test mutants bench fuzz dist screenshot masked-quicklook clean

all: build

deps:
	scripts/install-deps.sh

build: deps
	scripts/build.sh all

# The main job on a generated sample tile.
demo: deps
	scripts/demo.sh

# Every test, native and Windows-under-Wine, and the layers of src.
test:
	scripts/test.sh

# Small faults planted one at a time in a scratch copy: which ones the tests let through (minutes; not run by CI).
mutants: deps
	scripts/mutants.sh

# Full-tile benchmark against GDAL (minutes; about 400 MB of sample bands, cached).
bench: deps
	scripts/bench.sh

# libFuzzer runs of the byte parsers; BANDWEAVE_FUZZ_SECONDS sets the budget of each.
fuzz: deps
	scripts/fuzz.sh

# The release zip.
dist: build
	scripts/dist.sh

screenshot: build
	scripts/screenshot.sh

# docs/masked-quicklook.png: the real cloudy scene's quicklook with --mask-clouds (needs the real data).
masked-quicklook: deps
	scripts/masked-quicklook.sh

clean:
	rm -rf build
