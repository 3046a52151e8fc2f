# cmake -DTARBALL=... -DSOURCE_DIR=... -DPATCHES=a;b -P TovaniUnpackPatched.cmake
# Unpacks a third-party tarball into SOURCE_DIR afresh (its top folder
# stripped) and applies PATCHES (patch -p1) in order. Run as an external
# project's patch step, which runs again when a patch changes: starting from
# the tarball every time means no patch meets a tree it already changed, and
# touching every file makes the sub-build recompile what the last run patched.
set(unpack ${SOURCE_DIR}.unpack)
file(REMOVE_RECURSE ${unpack})
file(ARCHIVE_EXTRACT INPUT ${TARBALL} DESTINATION ${unpack} TOUCH)
file(GLOB top LIST_DIRECTORIES true ${unpack}/*)
list(LENGTH top count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "${TARBALL}: expected one top folder, found ${count}")
endif()
# SOURCE_DIR itself stays: the step runs in it, and a process whose working
# folder was deleted cannot start another.
file(GLOB old LIST_DIRECTORIES true ${SOURCE_DIR}/*)
if(old)
  file(REMOVE_RECURSE ${old})
endif()
file(GLOB new LIST_DIRECTORIES true ${top}/*)
foreach(item IN LISTS new)
  get_filename_component(name ${item} NAME)
  file(RENAME ${item} ${SOURCE_DIR}/${name})
endforeach()
file(REMOVE_RECURSE ${unpack})
foreach(patch IN LISTS PATCHES)
  execute_process(COMMAND patch -p1 -s -i ${patch} WORKING_DIRECTORY ${SOURCE_DIR} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${patch} does not apply to ${TARBALL}: ${result}")
  endif()
endforeach()
