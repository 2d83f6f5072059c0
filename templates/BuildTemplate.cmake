# Makes one template database: deletes an earlier file, creates the database with kova-sql and
# feeds it the SQL source on standard input. A failing statement fails the build and leaves no
# half-made template behind, so a stale or broken file never ends up in Vorlagen/.
#
#   cmake -DKOVA_SQL=... -DPASSWORD=... -DSOURCE=x.wbs.sql -DOUTPUT=Vorlagen/x.wbs -P BuildTemplate.cmake

foreach(variable IN ITEMS KOVA_SQL PASSWORD SOURCE OUTPUT)
  if(NOT DEFINED ${variable} OR "${${variable}}" STREQUAL "")
    message(FATAL_ERROR "BuildTemplate.cmake needs -D${variable}=...")
  endif()
endforeach()

get_filename_component(output_dir "${OUTPUT}" DIRECTORY)
file(MAKE_DIRECTORY "${output_dir}")
file(REMOVE "${OUTPUT}")

execute_process(
  COMMAND "${KOVA_SQL}" --create --password "${PASSWORD}" "${OUTPUT}"
  INPUT_FILE "${SOURCE}"
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE errors)

if(NOT result STREQUAL "0")
  file(REMOVE "${OUTPUT}")
  message(FATAL_ERROR "kova-sql failed on ${SOURCE} (exit ${result}):\n${errors}${output}")
endif()
