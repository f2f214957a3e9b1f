# Embeds the CMYK output profile, zlib-compressed, into the library at configure
# time. The profile is never committed: without it the CMYK conversions fall back
# to the plain formulas.
set(PRAVIK_CMYK_PROFILE "${PRAVIK_SHARED_DIR}/icc/Fogra27L-CMYK-Coated-Press.icm"
    CACHE FILEPATH "ICC profile the CMYK conversions go through")

function(pravik_embed_cmyk_profile target)
  set(out "${CMAKE_BINARY_DIR}/generated/cmyk_profile_data.cpp")
  file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/generated")
  find_package(Python3 COMPONENTS Interpreter)
  if(EXISTS "${PRAVIK_CMYK_PROFILE}" AND Python3_FOUND)
    execute_process(
      COMMAND ${Python3_EXECUTABLE} "${CMAKE_SOURCE_DIR}/cmake/embed_zlib.py"
              "${PRAVIK_CMYK_PROFILE}" "${out}.tmp" IECMYKPROFILE
      RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "could not embed ${PRAVIK_CMYK_PROFILE}")
    endif()
    message(STATUS "CMYK profile embedded: ${PRAVIK_CMYK_PROFILE}")
  else()
    file(WRITE "${out}.tmp"
      "#include <cstddef>\n#include <cstdint>\nnamespace pravik {\n"
      "extern const std::uint8_t IECMYKPROFILE[] = {0};\n"
      "extern const std::size_t IECMYKPROFILE_SIZE = 0;\n"
      "extern const std::size_t IECMYKPROFILE_RAW_SIZE = 0;\n}\n")
    message(STATUS "CMYK profile not found: CMYK conversions use the plain formulas")
  endif()
  # Only touch the output when it changed, so reconfiguring does not rebuild.
  file(COPY_FILE "${out}.tmp" "${out}" ONLY_IF_DIFFERENT)
  target_sources(${target} PRIVATE "${out}")
endfunction()
