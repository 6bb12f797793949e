# MSI packages of the component, built with wixl (Debian's msitools) from
# packaging/KT_EMailer.wxs. Only in the x64 cross build, and only where wixl is
# found: KT_PACKAGING tells whether packages can be built here. With a
# code-signing certificate (cmake/Signing.cmake) the DLLs are signed before
# they are packaged, and the packages once they are made.
include(Signing)
find_program(KT_WIXL wixl)
find_program(KT_MSIBUILD msibuild)
if(KT_WIXL AND KT_MSIBUILD AND CMAKE_CROSSCOMPILING AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(KT_PACKAGING ON)
else()
  set(KT_PACKAGING OFF)
endif()

# The same for both packages and every version: newer replaces older.
set(KT_UPGRADE_CODE 1335F4DF-E6BF-40DA-B18A-2A93A065036E)

# The x64 package holds the 32-bit DLL too, from the windows-x86 build.
set(KT_X86_BUILD_DIR "${CMAKE_SOURCE_DIR}/build/windows-x86" CACHE PATH
    "Build folder of the 32-bit DLL (the windows-x86 preset), which the packages take")
set(KT_X86_DLL ${KT_X86_BUILD_DIR}/bin/KT_EMailer.dll)

# The Help button opens Ardwyn.chm, the browser's help file, from the DLL's
# folder. It is not part of this repository: given here, the packages put it
# next to each DLL.
set(KT_HELP_FILE "" CACHE FILEPATH "The browser's help file Ardwyn.chm, which the packages then install")

# What Windows shows as the signed content's description.
set(KT_SIGN_DESCRIPTION "Ardwyn E-Mailer")

# kt_stage_package_files(<folder> [<help file>]): copies what packages built
# in that folder hold: the DLLs into <folder>/x64 and <folder>/x86, stripped
# of their debugging information (and signed), and the help file, if given,
# as <folder>/Ardwyn.chm. Once per folder.
function(kt_stage_package_files folder)
  kt_sign_commands(sign64 ${folder}/x64/KT_EMailer.dll "${KT_SIGN_DESCRIPTION}")
  kt_sign_commands(sign32 ${folder}/x86/KT_EMailer.dll "${KT_SIGN_DESCRIPTION}")
  set(files ${folder}/x64/KT_EMailer.dll ${folder}/x86/KT_EMailer.dll)
  set(copy_help)
  if(ARGV1)
    list(APPEND files ${folder}/Ardwyn.chm)
    set(copy_help COMMAND ${CMAKE_COMMAND} -E copy ${ARGV1} ${folder}/Ardwyn.chm)
  endif()
  add_custom_command(OUTPUT ${files}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}/x64 ${folder}/x86
    COMMAND ${CMAKE_STRIP} --strip-debug -o ${folder}/x64/KT_EMailer.dll $<TARGET_FILE:KT_EMailer>
    COMMAND ${CMAKE_STRIP} --strip-debug -o ${folder}/x86/KT_EMailer.dll ${KT_X86_DLL}
    ${sign64} ${sign32}
    ${copy_help}
    DEPENDS KT_EMailer ${KT_X86_DLL} ${ARGV1} ${KT_SIGN_DEPENDS}
    VERBATIM)
endfunction()

# kt_add_msi(<msi file> <x64|x86> <product version> [<help file>]): builds the
# package from the files staged beside it (kt_stage_package_files, with the
# same help file).
function(kt_add_msi msi arch version)
  # The providers' client IDs are written only when given.
  set(client_id_conditions)
  foreach(view 64 32)
    foreach(pair MicrosoftClientId:OAUTHMICROSOFTCLIENTID GoogleClientId:OAUTHGOOGLECLIENTID
                 GoogleClientSecret:OAUTHGOOGLECLIENTSECRET)
      string(REPLACE ":" ";" pair "${pair}")
      list(GET pair 0 component)
      list(GET pair 1 property)
      list(APPEND client_id_conditions COMMAND ${KT_MSIBUILD} ${msi} -q
           "UPDATE Component SET Condition='${property}' WHERE Component='${component}${view}'")
    endforeach()
  endforeach()
  get_filename_component(folder ${msi} DIRECTORY)
  kt_sign_commands(sign ${msi} "${KT_SIGN_DESCRIPTION}")
  set(wxs ${CMAKE_SOURCE_DIR}/packaging/KT_EMailer.wxs)
  set(help)
  if(ARGV3)
    set(help -D HelpFile=Ardwyn.chm)
  endif()
  add_custom_command(OUTPUT ${msi}
    COMMAND ${KT_WIXL} -a ${arch} -D PackageArch=${arch} -D Version=${version}
            -D TypeLibVersion=${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR} -D UpgradeCode=${KT_UPGRADE_CODE}
            ${help} -I ${CMAKE_SOURCE_DIR}/packaging -o ${msi} ${wxs}
    # wixl writes the HKMU root (-1: the hive that ALLUSERS chooses) as 4,
    # which msiexec skips; records no file versions, so that the installer
    # would take the DLLs for unversioned files; and its upgrade rule leaves
    # out the equal version.
    COMMAND ${KT_MSIBUILD} ${msi} -q "UPDATE Registry SET Root=-1 WHERE Root=4"
    COMMAND ${KT_MSIBUILD} ${msi} -q "UPDATE File SET Version='${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0' WHERE FileName='KT_EMailer.dll'"
    COMMAND ${KT_MSIBUILD} ${msi} -q "DELETE FROM Upgrade WHERE ActionProperty='WIX_UPGRADE_DETECTED'"
    ${client_id_conditions}
    COMMAND ${KT_MSIBUILD} ${msi} -q "INSERT INTO Upgrade (UpgradeCode, VersionMax, Attributes, ActionProperty) VALUES ('{${KT_UPGRADE_CODE}}', '${version}', 513, 'WIX_UPGRADE_DETECTED')"
    # Last: any change after it breaks the signature.
    ${sign}
    WORKING_DIRECTORY ${folder}
    DEPENDS ${wxs} ${CMAKE_SOURCE_DIR}/packaging/com-server.wxi ${CMAKE_SOURCE_DIR}/packaging/oauth-client-ids.wxi
            ${folder}/x64/KT_EMailer.dll ${folder}/x86/KT_EMailer.dll
            ${ARGV3} ${KT_SIGN_DEPENDS}
    VERBATIM)
endfunction()
