echo off

:PROCESS_ARGS
IF "%1" == "" GOTO PROCESS_ARGS_DONE
IF "%1" == "-cd" GOTO PROCESS_CUTOFF_DATE
:ARG_DONE
SHIFT
GOTO PROCESS_ARGS
:PROCESS_CUTOFF_DATE
SHIFT
SET cutoff_date=%1
GOTO ARG_DONE
:PROCESS_ARGS_DONE

::----------------------------------------------------------------
::-- Get SetupAPI logs
::----------------------------------------------------------------
mkdir "%VELLOCS_OUTDIR%\OSLogs"
copy /Y "C:\Windows\INF\Setupapi.app.log" "%VELLOCS_OUTDIR%\OSLogs"
copy /Y "C:\Windows\INF\Setupapi.dev.log" "%VELLOCS_OUTDIR%\OSLogs"

::----------------------------------------------------------------
::-- Get the event logs in raw format
::----------------------------------------------------------------
mkdir "%VELLOCS_OUTDIR%\OSLogs\RawEventLogs"
copy /y "C:\Windows\system32\winevt\logs\*.evtx" "%VELLOCS_OUTDIR%\OSLogs\RawEventLogs"

IF NOT EXIST "%SYSTEMROOT%\System32\wbem\wmic.exe" goto EVENTQUERY_DONE

mkdir "%VELLOCS_OUTDIR%\OSLogs\EventLogs"
pushd "%SYSTEMROOT%\System32\wbem"
IF "%cutoff_date%" == "" GOTO NO_CUTOFF_DATE
wmic.exe NTEVENT WHERE "LogFile='Application' AND TimeGenerated > '%cutoff_date%'" GET /FORMAT:rawxml > "%VELLOCS_OUTDIR%\OSLogs\EventLogs\EvtLog_App.xml"
wmic.exe NTEVENT WHERE "LogFile='System' AND TimeGenerated > '%cutoff_date%'" GET /FORMAT:rawxml > "%VELLOCS_OUTDIR%\OSLogs\EventLogs\EvtLog_System.xml"
wmic.exe NTEVENT WHERE "LogFile='Security' AND TimeGenerated > '%cutoff_date%'" GET /FORMAT:rawxml > "%VELLOCS_OUTDIR%\OSLogs\EventLogs\EvtLog_Security.xml"
popd
GOTO EVENTQUERY_DONE

:NO_CUTOFF_DATE
wmic.exe NTEVENT WHERE LogFile="Application" GET /FORMAT:rawxml > "%VELLOCS_OUTDIR%\OSLogs\EventLogs\EvtLog_App.xml"
wmic.exe NTEVENT WHERE LogFile="System" GET /FORMAT:rawxml > "%VELLOCS_OUTDIR%\OSLogs\EventLogs\EvtLog_System.xml"
wmic.exe NTEVENT WHERE LogFile="Security" GET /FORMAT:rawxml > "%VELLOCS_OUTDIR%\OSLogs\EventLogs\EvtLog_Security.xml"
popd

:EVENTQUERY_DONE
mkdir "%VELLOCS_OUTDIR%\OSLogs\msinfo"
"%CommonProgramFiles%\Microsoft Shared\MSInfo\msinfo32.exe" /report "%VELLOCS_OUTDIR%\OSLogs\msinfo\msinfo.txt"
"%CommonProgramFiles%\Microsoft Shared\MSInfo\msinfo32.exe" /nfo "%VELLOCS_OUTDIR%\OSLogs\msinfo\msinfo.nfo"

exit
