# Set-up, build and test on a fresh Debian machine. `make demo` and `make test` do everything.
BUILD ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 120
JOBS ?= 2
# Warnings fail the build in CI (CI=true) and stay warnings elsewhere.
WERROR ?= $(if $(CI),ON,OFF)
DEBIAN_PACKAGES = cmake ninja-build g++ pkg-config python3 \
  libgtest-dev libgmock-dev libbenchmark-dev \
  libpng-dev libjpeg62-turbo-dev libcurl4-openssl-dev libstb-dev libfast-float-dev libcli11-dev \
  libzip-dev libproj-dev proj-bin proj-data libpugixml-dev libgdal-dev gdal-bin \
  python3-gdal \
  postgresql postgresql-15-postgis-3 \
  clang libclang-rt-14-dev \
  libtinygltf-dev nlohmann-json3-dev libgeos-dev libmeshoptimizer-dev libdraco-dev \
  nodejs chromium \
  python3-pybind11 pybind11-dev python3-numpy python3-geopandas python3-fiona python3-pytest \
  python3-dask python3-distributed python3-psycopg2 \
  locales time

.PHONY: deps build test test-asan fuzz demo bench compare view clean python-install

deps:
	@missing=""; for p in $(DEBIAN_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  if [ "$$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi; \
	  $$sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$sudo apt-get install -y -qq $$missing; \
	fi
	@# npm comes with some builds of nodejs and conflicts with them; Debian's own nodejs needs it.
	@command -v npm >/dev/null || { [ "$$(id -u)" -eq 0 ] && sudo="" || sudo="sudo"; \
	  DEBIAN_FRONTEND=noninteractive $$sudo apt-get install -y -qq npm; }
	@# The glTF validator, three.js, puppeteer-core and CesiumJS (the tiles viewer), as
	@# package-lock.json pins them.
	@cmp -s package-lock.json node_modules/.varnel-lock || \
	  { npm ci --no-audit --no-fund && cp package-lock.json node_modules/.varnel-lock; }
	@# A decimal-comma locale lets the tests prove numbers are read the same under any locale.
	@locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$$' || \
	  { [ "$$(id -u)" -eq 0 ] && localedef -i de_DE -f UTF-8 de_DE.UTF-8 2>/dev/null; } || true

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEL_WERROR=$(WERROR)
	cmake --build $(BUILD) -j $(JOBS)

# `import varnel` in Debian's Python without PYTHONPATH: the package copied into its site folder
# (/usr/local/lib/python3.X/dist-packages as root, the user's site folder otherwise).
python-install: build
	@site=$$(if [ "$$(id -u)" -eq 0 ]; then /usr/bin/python3 -c 'import sysconfig; print(sysconfig.get_path("purelib"))'; \
	  else /usr/bin/python3 -m site --user-site; fi); \
	mkdir -p "$$site" && rm -rf "$$site/varnel" && cp -r $(BUILD)/python/varnel "$$site/" && \
	echo "varnel installed into $$site"

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVARNEL_SANITIZE=ON -DVARNEL_BENCH=OFF -DVARNEL_WERROR=$(WERROR)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# Each libFuzzer harness for FUZZ_SECONDS on its seeds, built with clang under ASan and UBSan.
fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ -DVARNEL_FUZZ=ON -DVARNEL_TESTS=OFF -DVARNEL_BENCH=OFF -DVARNEL_WERROR=$(WERROR)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_reader fuzz_factory fuzz_document fuzz_gis
	tools/scripts/fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

demo: build
	@echo "== varnel info tests/data/demo/house.dae"
	@./$(BUILD)/tools/varnel info tests/data/demo/house.dae
	@mkdir -p $(BUILD)/demo
	@echo "== varnel convert tests/data/demo/house.dae --origin 9,45,100 --split material -overwrite -o $(BUILD)/demo/house.gpkg"
	@./$(BUILD)/tools/varnel convert tests/data/demo/house.dae --origin 9,45,100 --split material \
	  -overwrite -o $(BUILD)/demo/house.gpkg
	@echo "== ogrinfo -ro -so -al $(BUILD)/demo/house.gpkg (CRS shown by name)"
	@ogrinfo -ro -so -al $(BUILD)/demo/house.gpkg | grep -v '^ '

bench: build
	./$(BUILD)/bench/bench_reader

# varnel against assimp and the floor program on generated documents (docs/performance.md).
compare: build
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="assimp-utils time"
	bench/compare.sh $(BUILD)

# A tileset written with `varnel tiles --viewer -o DIR` in the browser, from this machine only.
PORT ?= 8000
view:
	@test -f "$(DIR)/index.html" || { echo "make view DIR=...: no index.html there (varnel tiles --viewer -o DIR)"; exit 2; }
	@echo "http://127.0.0.1:$(PORT)/"
	python3 -m http.server $(PORT) --bind 127.0.0.1 --directory "$(DIR)"

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
