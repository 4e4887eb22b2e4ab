# The two commands of the README: `make run` and `make test`.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: run test bench build setup configure clean

setup:
	@bash tools/setup.sh

configure: setup
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@./$(BUILD)/kiv

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	@cmake --build $(BUILD) --target benchmarks
	@for b in $(BUILD)/bench/bench_*; do echo "== $$b"; $$b; done
	@python3 bench/startup.py $(BUILD)/kiv
	@python3 bench/compare.py $(BUILD)/kiv

clean:
	rm -rf $(BUILD)
