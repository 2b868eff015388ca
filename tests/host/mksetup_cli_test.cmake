# The mksetup command end to end: a good description builds and inspects;
# bad input fails with exit code 1 (2 for usage errors), one "mksetup: ..."
# line on stderr and no output file.
#
#   cmake -DMKSETUP=path/to/mksetup -DWORK_DIR=scratch/dir -P mksetup_cli_test.cmake
cmake_minimum_required(VERSION 3.25)

if(NOT MKSETUP OR NOT WORK_DIR)
    message(FATAL_ERROR "usage: cmake -DMKSETUP=<tool> -DWORK_DIR=<dir> -P ${CMAKE_CURRENT_LIST_FILE}")
endif()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}/desc/data")

# ---- a minimal PE stub --------------------------------------------------------
# CMake strings cannot hold NUL bytes, so printf writes the image from octal
# escapes. Layout: PE header at 0x40, 16-byte optional header, one section
# whose 16 bytes of raw data end the file (160 bytes).
find_program(PRINTF printf REQUIRED)

set(stub_bytes "")
foreach(i RANGE 159)
    list(APPEND stub_bytes 0)
endforeach()

function(poke offset)
    foreach(value IN LISTS ARGN)
        list(REMOVE_AT stub_bytes ${offset})
        list(INSERT stub_bytes ${offset} ${value})
        math(EXPR offset "${offset} + 1")
    endforeach()
    set(stub_bytes "${stub_bytes}" PARENT_SCOPE)
endfunction()

poke(0 77 90)                   # "MZ"
poke(60 64)                     # PE header offset
poke(64 80 69)                  # "PE\0\0"
poke(68 100 134)                # machine 0x8664
poke(70 1)                      # one section
poke(84 16)                     # optional header size
poke(104 46 116 101 120 116)    # ".text"
poke(120 16)                    # raw data size
poke(124 144)                   # raw data offset
poke(144 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16)

set(format "")
foreach(value IN LISTS stub_bytes)
    math(EXPR d1 "${value} / 64")
    math(EXPR d2 "(${value} / 8) % 8")
    math(EXPR d3 "${value} % 8")
    string(APPEND format "\\${d1}${d2}${d3}")
endforeach()
execute_process(COMMAND "${PRINTF}" "${format}" OUTPUT_FILE "${WORK_DIR}/stub.exe" RESULT_VARIABLE rc)
file(SIZE "${WORK_DIR}/stub.exe" stub_size)
if(NOT rc EQUAL 0 OR NOT stub_size EQUAL 160)
    message(FATAL_ERROR "could not write the test stub (printf exit ${rc}, ${stub_size} bytes)")
endif()

# ---- helpers ------------------------------------------------------------------

# Runs mksetup in WORK_DIR; sets rc, out and err in the caller.
function(run_mksetup)
    execute_process(COMMAND "${MKSETUP}" ${ARGN}
        WORKING_DIRECTORY "${WORK_DIR}"
        RESULT_VARIABLE result OUTPUT_VARIABLE stdout ERROR_VARIABLE stderr)
    set(rc "${result}" PARENT_SCOPE)
    set(out "${stdout}" PARENT_SCOPE)
    set(err "${stderr}" PARENT_SCOPE)
endfunction()

# Checks a failed run: exit code, a single "mksetup: " line matching `pattern`.
function(check_failure name expected_rc pattern)
    if(NOT rc STREQUAL "${expected_rc}")
        message(SEND_ERROR "${name}: exit code ${rc}, expected ${expected_rc}; stderr: ${err}")
    endif()
    if(NOT err MATCHES "^mksetup: [^\n]+\n$")
        message(SEND_ERROR "${name}: stderr is not one 'mksetup: ' line: [${err}]")
    endif()
    if(NOT err MATCHES "${pattern}")
        message(SEND_ERROR "${name}: stderr does not match '${pattern}': ${err}")
    endif()
endfunction()

# A build that must fail without leaving the output or a temporary file.
function(expect_build_failure name pattern)
    file(REMOVE "${WORK_DIR}/out.exe")
    run_mksetup(build ${ARGN} --output out.exe)
    check_failure("${name}" 1 "${pattern}")
    file(GLOB leftovers "${WORK_DIR}/out.exe*")
    if(leftovers)
        message(SEND_ERROR "${name}: left ${leftovers}")
    endif()
endfunction()

# A description in desc/ that must be refused.
function(expect_description_failure name json pattern)
    file(WRITE "${WORK_DIR}/desc/bad.json" "${json}")
    expect_build_failure("${name}" "${pattern}" --stub stub.exe --description desc/bad.json)
endfunction()

function(expect_json json_text expected)
    string(JSON actual ERROR_VARIABLE json_error GET "${json_text}" ${ARGN})
    if(json_error)
        message(SEND_ERROR "inspect output: ${ARGN}: ${json_error}")
    elseif(NOT actual STREQUAL "${expected}")
        message(SEND_ERROR "inspect output: ${ARGN} is '${actual}', expected '${expected}'")
    endif()
endfunction()

# ---- a good description ---------------------------------------------------------

file(WRITE "${WORK_DIR}/desc/data/app.jar" "jar bytes")
file(WRITE "${WORK_DIR}/desc/data/tail.bin" "TAIL")
file(WRITE "${WORK_DIR}/desc/good.json" [=[
{
  // Comments are allowed.
  "check": true,
  "settings": { "107": "1", "2001": "i", "146": "${TEMP}", "300": 42 },
  "messages": { "1000": "Error", "1001": "Grüße €" },
  "groups": [ { "prefix": "de", "messages": { "1000": "Fehler" } } ],
  "files": [
    { "name": "app.jar", "source": "data/app.jar" },
    { "name": "sub\\x.txt", "text": "inline content" }
  ],
  "trailing": { "source": "data/tail.bin" }
}
]=])

run_mksetup(--help)
if(NOT rc EQUAL 0 OR NOT out MATCHES "Usage:")
    message(SEND_ERROR "--help: exit code ${rc}, output: ${out}")
endif()

# Twice: the second build replaces the first output.
foreach(round 1 2)
    run_mksetup(build --stub stub.exe --description desc/good.json -o good.exe)
    if(NOT rc EQUAL 0 OR NOT err STREQUAL "")
        message(FATAL_ERROR "build of good.json failed (${rc}): ${err}")
    endif()
endforeach()
file(GLOB leftovers "${WORK_DIR}/good.exe?*")
if(leftovers)
    message(SEND_ERROR "build left ${leftovers}")
endif()

run_mksetup(inspect good.exe)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "inspect of good.exe failed (${rc}): ${err}")
endif()
expect_json("${out}" 160 blockStart)
expect_json("${out}" 1 checkFlag)
expect_json("${out}" ON crcMatches)
expect_json("${out}" 1 settings 107)
expect_json("${out}" 42 settings 300)
expect_json("${out}" 2 settings 2002)
expect_json("${out}" "app.jar;sub\\x.txt" settings 2003)
expect_json("${out}" "Grüße €" messages 1001)
expect_json("${out}" de groups 0 prefix)
expect_json("${out}" Fehler groups 0 messages 1000)
expect_json("${out}" app.jar payload 0 name)
expect_json("${out}" 9 payload 0 length)
expect_json("${out}" 14 payload 1 length)
expect_json("${out}" 4 trailingBytes)

# ---- refused descriptions -----------------------------------------------------------

expect_description_failure("bad JSON" "{ \"settings\": " "parse error at line 1")
expect_description_failure("not an object" "[]" "expected an object")
expect_description_failure("unknown key" "{ \"setings\": {} }" "setings: unknown key")
expect_description_failure("duplicate key" "{ \"settings\": { \"1\": \"a\", \"1\": \"b\" } }"
    "duplicate key \"1\" in settings")
expect_description_failure("non-integer id" "{ \"settings\": { \"x1\": \"a\" } }"
    "settings\\[\"x1\"\\]: id is not a decimal integer")
expect_description_failure("id out of range" "{ \"messages\": { \"2147483648\": \"a\" } }"
    "messages\\[\"2147483648\"\\]: id is out of the 32-bit signed range")
expect_description_failure("wrong value type" "{ \"settings\": { \"1\": [] } }"
    "settings\\[\"1\"\\]: expected a string or an integer, got array")
expect_description_failure("wrong check type" "{ \"check\": 1 }" "check: expected true or false")
expect_description_failure("bad encoding" "{ \"settingsEncoding\": \"utf-16\" }" "settingsEncoding")
expect_description_failure("not Latin-1" "{ \"settingsEncoding\": \"latin1\", \"settings\": { \"1\": \"€\" } }"
    "U\\+20AC")
expect_description_failure("missing source" "{ \"files\": [ { \"name\": \"a\", \"source\": \"data/none.bin\" } ] }"
    "files\\[0\\]\\.source: cannot open")
expect_description_failure("source and text" "{ \"files\": [ { \"name\": \"a\", \"source\": \"x\", \"text\": \"y\" } ] }"
    "files\\[0\\]: needs exactly one")
expect_description_failure("missing name" "{ \"files\": [ { \"text\": \"y\" } ] }" "files\\[0\\]: missing \"name\"")
expect_description_failure("duplicate names"
    "{ \"files\": [ { \"name\": \"a.jar\", \"text\": \"\" }, { \"name\": \"A.JAR\", \"text\": \"\" } ] }"
    "files\\[1\\]\\.name: duplicate file name")
expect_description_failure("separator in name" "{ \"files\": [ { \"name\": \"a;b\", \"text\": \"\" } ] }"
    "files\\[0\\]\\.name: .*contains ';'")
expect_description_failure("missing trailing source" "{ \"trailing\": { \"source\": \"none\" } }"
    "trailing\\.source: cannot open")
expect_description_failure("missing prefix" "{ \"groups\": [ { \"messages\": {} } ] }" "groups\\[0\\]: missing")

# ---- refused stubs and arguments ------------------------------------------------------

file(COPY_FILE "${WORK_DIR}/stub.exe" "${WORK_DIR}/padded.exe")
file(APPEND "${WORK_DIR}/padded.exe" "junk")
expect_build_failure("stub with data behind it"
    "stub has 4 bytes after its last section \\(not stripped, or already a setup program\\)"
    --stub padded.exe --description desc/good.json)
expect_build_failure("text file as stub" "not a PE image" --stub desc/good.json --description desc/good.json)
expect_build_failure("missing stub" "cannot open" --stub none.exe --description desc/good.json)
expect_build_failure("missing description" "cannot open" --stub stub.exe --description none.json)
expect_build_failure("setup program as stub" "after its last section" --stub good.exe --description desc/good.json)

run_mksetup(build --stub stub.exe --description desc/good.json -o missing-dir/out.exe)
check_failure("output in a missing directory" 1 "cannot create")
if(EXISTS "${WORK_DIR}/missing-dir")
    message(SEND_ERROR "output in a missing directory: something was created")
endif()

run_mksetup(build --stub stub.exe --description desc/good.json -o stub.exe)
check_failure("output onto the stub" 1 "one of the input files")
file(SIZE "${WORK_DIR}/stub.exe" stub_size)
if(NOT stub_size EQUAL 160)
    message(SEND_ERROR "output onto the stub: the stub was changed")
endif()

run_mksetup()
check_failure("no command" 2 "no command")
run_mksetup(frobnicate)
check_failure("unknown command" 2 "unknown command 'frobnicate'")
run_mksetup(build --stub stub.exe --description desc/good.json)
check_failure("no output" 2 "--output is required")
run_mksetup(build --stub stub.exe --stub stub.exe --description desc/good.json -o x.exe)
check_failure("repeated option" 2 "given twice")
run_mksetup(build --stub)
check_failure("option without value" 2 "needs a value")
run_mksetup(inspect)
check_failure("inspect without file" 2 "exactly one file")

# ---- refused inspections ---------------------------------------------------------------

run_mksetup(inspect none.exe)
check_failure("inspect of a missing file" 1 "cannot open")
run_mksetup(inspect desc/good.json)
check_failure("inspect of a text file" 1 "not a PE image")
run_mksetup(inspect stub.exe)
check_failure("inspect of a plain stub" 1 "no data after the image")
run_mksetup(inspect padded.exe)
check_failure("inspect of a padded stub" 1 "no setup block")
run_mksetup(inspect desc)
check_failure("inspect of a directory" 1 "is a directory")
