# Installs the playground's npm packages with `npm ci` unless what is installed already
# matches package-lock.json (npm records the installed tree in node_modules/.package-lock.json).
set(installed ${WEB}/node_modules/.package-lock.json)
if(EXISTS ${installed} AND NOT ${WEB}/package-lock.json IS_NEWER_THAN ${installed})
  return()
endif()
find_program(NPM npm REQUIRED)
execute_process(COMMAND ${NPM} ci --no-audit --no-fund WORKING_DIRECTORY ${WEB}
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "npm ci failed in ${WEB}")
endif()
