# Authenticode signing of the built executables with osslsigncode.
#
# In a Windows build, name a code-signing certificate and its key at configure
# time and every service-pack executable is signed right after it is linked:
#
#   cmake --preset windows-x86 -DSP_SIGN_CERT=cert.pem -DSP_SIGN_KEY=key.pem
#         [-DSP_SIGN_PASSWORD_FILE=pass.txt] [-DSP_SIGN_TIMESTAMP_URL=http://...]
#
# The certificate file may hold the whole chain (signing certificate first).
# Without SP_SIGN_CERT nothing is signed.
#
# The post-build step runs this same file as a script, which signs one file in
# place; tests run it the same way:
#
#   cmake -DFILE=x.exe -DCERT=cert.pem -DKEY=key.pem [-DPASSWORD_FILE=pass.txt]
#         [-DTIMESTAMP_URL=http://...] [-DOSSLSIGNCODE=path] -P cmake/signing.cmake

if(CMAKE_SCRIPT_MODE_FILE)
  foreach(required FILE CERT KEY)
    if(NOT ${required})
      message(FATAL_ERROR "signing.cmake: -D${required}=... is required")
    endif()
  endforeach()
  if(OSSLSIGNCODE)
    set(osslsigncode ${OSSLSIGNCODE})
  else()
    find_program(osslsigncode osslsigncode)
    if(NOT osslsigncode)
      message(FATAL_ERROR "signing.cmake: osslsigncode is not installed")
    endif()
  endif()
  set(args -certs ${CERT} -key ${KEY} -h sha256)
  if(PASSWORD_FILE)
    list(APPEND args -readpass ${PASSWORD_FILE})
  endif()
  if(TIMESTAMP_URL)
    list(APPEND args -t ${TIMESTAMP_URL})
  endif()
  # osslsigncode writes a new file; the signed one replaces the original only
  # when signing succeeded, so a failed step leaves no half-signed executable.
  set(signed ${FILE}.signed)
  file(REMOVE ${signed})
  execute_process(COMMAND ${osslsigncode} sign ${args} -in ${FILE} -out ${signed}
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    file(REMOVE ${signed})
    message(FATAL_ERROR "signing ${FILE} failed:\n${output}")
  endif()
  file(RENAME ${signed} ${FILE})
  # As the linker left it: executable.
  file(CHMOD ${FILE} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                 WORLD_READ WORLD_EXECUTE)
  return()
endif()

set(SP_SIGN_CERT "" CACHE FILEPATH "Code-signing certificate (PEM or DER; may hold the chain) to sign the executables with")
set(SP_SIGN_KEY "" CACHE FILEPATH "Private key of SP_SIGN_CERT (PEM or DER)")
set(SP_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the password of SP_SIGN_KEY, if it has one")
set(SP_SIGN_TIMESTAMP_URL "" CACHE STRING "Time-stamp server, so the signature outlives the certificate")

if(SP_SIGN_CERT)
  if(NOT SP_SIGN_KEY)
    message(FATAL_ERROR "SP_SIGN_CERT is set but SP_SIGN_KEY is not")
  endif()
  foreach(file SP_SIGN_CERT SP_SIGN_KEY SP_SIGN_PASSWORD_FILE)
    if(${file} AND NOT EXISTS ${${file}})
      message(FATAL_ERROR "${file}: ${${file}} does not exist")
    endif()
  endforeach()
  find_program(SP_OSSLSIGNCODE osslsigncode)
  if(NOT SP_OSSLSIGNCODE)
    message(FATAL_ERROR "SP_SIGN_CERT is set but osslsigncode is not installed")
  endif()
endif()

# Signs <target>'s executable after every link, when a certificate is named.
function(sp_sign_executable target)
  if(NOT SP_SIGN_CERT)
    return()
  endif()
  get_filename_component(cert ${SP_SIGN_CERT} ABSOLUTE)
  get_filename_component(key ${SP_SIGN_KEY} ABSOLUTE)
  set(args -DFILE=$<TARGET_FILE:${target}> -DCERT=${cert} -DKEY=${key}
           -DOSSLSIGNCODE=${SP_OSSLSIGNCODE})
  if(SP_SIGN_PASSWORD_FILE)
    get_filename_component(password ${SP_SIGN_PASSWORD_FILE} ABSOLUTE)
    list(APPEND args -DPASSWORD_FILE=${password})
  endif()
  if(SP_SIGN_TIMESTAMP_URL)
    list(APPEND args -DTIMESTAMP_URL=${SP_SIGN_TIMESTAMP_URL})
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} ${args} -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
    COMMENT "Signing ${target}"
    VERBATIM)
endfunction()
