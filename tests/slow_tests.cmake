# Read by ctest after the discovered tests: the slowest tests, by the seconds
# each took in the sanitize build, so that `ctest -j` starts them first and a
# run does not end on one long test while the other cores idle. ctest keeps
# measured costs of its own after a first run; these order a fresh build's
# first run. A name that no longer exists is ignored. (The checks from
# outside, added after this file is read, have their costs beside them.)
foreach(slow IN ITEMS
    "e2e.StandInAudio.AChoiceWithoutARecogniserIsSaidInTheWarnings:17"
    "e2e.StandInAudio.ManyImportsAtOnceAreEachRecognised:12"
    "e2e.Shells/Completion.OffersEveryDocumentedCommandWordByWord/zsh  # GetParam() = zsh:10"
    "unit.JsonWriter.UnindexedContentsPrintAsFromTheIndex:9"
    "e2e.KeptLibrary.AKillLosesNoResultAClientWasToldOf:9"
    "e2e.StandIn.OtherClientsAreAnsweredWhileAnExportRenders:8"
    "e2e.StandInAudio.AStereoRecordingIsTwoSpeakersByChannel:5"
    "e2e.Shells/Completion.OffersEveryDocumentedCommandWordByWord/bash  # GetParam() = bash:5"
    "e2e.StandIn.AnswersEveryCommandItLists:4"
    "e2e.StandInAudio.AJoinConvertsThePartsToTheFirstPartsFormat:4"
    "e2e.AgentsSafety.TwoRunsAtOnceNeverCorruptAFile:4"
    "e2e.StandInPersist.ARestartKeepsImportsEditsAndAudio:4"
    "e2e.Shells/Completion.OffersEveryOptionAndEveryValueTheHelpNames/zsh  # GetParam() = zsh:4")
  string(REGEX MATCH "^(.*):([0-9]+)$" matched "${slow}")
  set_tests_properties("${CMAKE_MATCH_1}" PROPERTIES COST ${CMAKE_MATCH_2})
endforeach()
