# Sources that include no Windows header (paths relative to the project root).
set(STUB_PURE_SOURCES
    windows/launcher/cmdline.cpp
    windows/launcher/path_utils.cpp
    windows/launcher/expand_core.cpp
    windows/config/config_store.cpp
    windows/config/block_format.cpp
    windows/config/language.cpp
)
list(TRANSFORM STUB_PURE_SOURCES PREPEND "${CMAKE_CURRENT_LIST_DIR}/../")
set(STUB_PURE_INCLUDE_DIR "${CMAKE_CURRENT_LIST_DIR}")
