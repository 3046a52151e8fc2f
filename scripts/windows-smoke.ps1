<#
.SYNOPSIS
  Hand check of tovani.exe on a real Windows 10/11 machine with the WebView2
  runtime: what the Wine test suite cannot reach. About five minutes.

.DESCRIPTION
  Runs each check, asks what you see where only a person can tell, and writes
  a report (tovani-smoke-report.txt, with screenshots) into a folder beside
  this script. Run it from a normal (not elevated) PowerShell:

    powershell -ExecutionPolicy Bypass -File windows-smoke.ps1 -Exe C:\path\tovani.exe [-Link 'corvantiluxen:...']

  -Link is a genuine link of the platform (for the shell and content checks);
  without it those checks use a damaged link, which must end in the
  diagnostic dialog.
#>
param(
    [Parameter(Mandatory = $true)][string]$Exe,
    [string]$Link = ''
)

$ErrorActionPreference = 'Stop'
Add-Type -AssemblyName System.Windows.Forms, System.Drawing

$Exe = (Resolve-Path -LiteralPath $Exe).Path
$stamp = Get-Date -Format 'yyyyMMdd-HHmmss'
$out = Join-Path $PSScriptRoot "tovani-smoke-$stamp"
New-Item -ItemType Directory -Path $out | Out-Null
$report = Join-Path $out 'tovani-smoke-report.txt'
$results = New-Object System.Collections.Generic.List[string]

function Write-Report([string]$line) {
    Add-Content -LiteralPath $report -Value $line -Encoding UTF8
    Write-Host $line
}

function Save-Screen([string]$name) {
    $bounds = [System.Windows.Forms.SystemInformation]::VirtualScreen
    $bitmap = New-Object System.Drawing.Bitmap $bounds.Width, $bounds.Height
    $graphics = [System.Drawing.Graphics]::FromImage($bitmap)
    $graphics.CopyFromScreen($bounds.Left, $bounds.Top, 0, 0, $bitmap.Size)
    $path = Join-Path $out "$name.png"
    $bitmap.Save($path, [System.Drawing.Imaging.ImageFormat]::Png)
    $graphics.Dispose(); $bitmap.Dispose()
    return $path
}

function Ask([string]$question) {
    while ($true) {
        $answer = (Read-Host "$question [y/n/s=skip]").Trim().ToLower()
        if ($answer -in 'y', 'n', 's') { return $answer }
    }
}

function Record([string]$check, [string]$outcome, [string]$note) {
    $word = switch ($outcome) { 'y' { 'PASS' } 'n' { 'FAIL' } default { 'SKIP' } }
    $results.Add("$word  $check")
    Write-Report ("[{0}] {1}: {2}" -f $word, $check, $note)
}

# Processes the player started (the player itself included), so that only
# they are ended here: the user's own browser and other programs stay.
function Stop-PlayerTree([int]$rootId) {
    $all = Get-CimInstance Win32_Process
    $ids = New-Object System.Collections.Generic.HashSet[int]
    [void]$ids.Add($rootId)
    do {
        $grown = $false
        foreach ($p in $all) {
            if ($ids.Contains([int]$p.ParentProcessId) -and $ids.Add([int]$p.ProcessId)) { $grown = $true }
        }
    } while ($grown)
    foreach ($id in $ids) { Stop-Process -Id $id -Force -ErrorAction SilentlyContinue }
}

Write-Report "Tovani smoke check, $(Get-Date -Format o)"
$dpi = (Get-ItemProperty 'HKCU:\Control Panel\Desktop\WindowMetrics' -ErrorAction SilentlyContinue).AppliedDPI
if (-not $dpi) { $dpi = 96 }
Write-Report ("Windows {0}, build {1}; display scale {2}%" -f `
    [Environment]::OSVersion.Version, (Get-ItemProperty 'HKLM:\SOFTWARE\Microsoft\Windows NT\CurrentVersion').CurrentBuild, `
    [math]::Round($dpi * 100 / 96))
Write-Report "Program: $Exe ($((Get-Item -LiteralPath $Exe).Length) bytes)"
$signature = Get-AuthenticodeSignature -LiteralPath $Exe
Write-Report "Program signature: $($signature.Status) $($signature.SignerCertificate.Subject)"
foreach ($root in 'HKLM:\SOFTWARE\WOW6432Node\Microsoft\EdgeUpdate\Clients\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}',
                  'HKCU:\SOFTWARE\Microsoft\EdgeUpdate\Clients\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}') {
    $version = (Get-ItemProperty -Path $root -ErrorAction SilentlyContinue).pv
    if ($version) { Write-Report "WebView2 runtime: $version ($root)" }
}
Write-Report ''

# 1. The real runtime: the init screen with the start page and its bar.
Write-Host "`n1. The init screen. The player starts without a link."
$player = Start-Process -FilePath $Exe -PassThru
Start-Sleep -Seconds 8
$shot = Save-Screen 'init-screen'
$answer = Ask 'Do you see the Tovani window with the start page and the small navigation bar (home, back, fullscreen)? Try each button.'
Record 'real runtime: init screen, start page, navigation bar' $answer "screenshot $shot"
$answer = Ask 'Press F11 or the fullscreen button, then leave fullscreen. Did the window fill the screen and come back?'
Record 'init screen fullscreen' $answer ''
Stop-PlayerTree $player.Id

# 2. High DPI: the splash, the window and its text at the current scale.
Write-Host "`n2. High DPI. Best run at 150% or more (Settings > Display > Scale)."
$player = Start-Process -FilePath $Exe -PassThru
Start-Sleep -Milliseconds 700
$shot = Save-Screen 'splash'
Start-Sleep -Seconds 6
$shot2 = Save-Screen 'init-screen-scaled'
$answer = Ask 'Were the splash and the window sharp (not blurred) and sized sensibly for this screen?'
Record 'high DPI: splash and window' $answer "screenshots $shot, $shot2"
Stop-PlayerTree $player.Id

# 3. Real mshta, started from the system folder: a damaged link ends in the
# diagnostic dialog, whose code is on the clipboard. A file named mshta.exe
# beside the program must not be the one that runs.
Write-Host "`n3. The diagnostic dialog (a damaged link)."
$copyFolder = Join-Path $out 'planted'
New-Item -ItemType Directory -Path $copyFolder | Out-Null
$copy = Join-Path $copyFolder 'tovani.exe'
Copy-Item -LiteralPath $Exe -Destination $copy
$marker = Join-Path $copyFolder 'planted-ran.txt'
# A batch file in mshta's and cmd's names: if either ran, it leaves the marker.
foreach ($name in 'mshta.cmd', 'mshta.bat', 'cmd.bat') {
    Set-Content -LiteralPath (Join-Path $copyFolder $name) -Value "@echo planted > `"$marker`"" -Encoding ASCII
}
# Notepad in mshta's name beside the copy: it would stay open if it ran.
$plantedMshta = Join-Path $copyFolder 'mshta.exe'
Copy-Item -LiteralPath (Join-Path $env:WINDIR 'System32\notepad.exe') -Destination $plantedMshta
Set-Clipboard -Value 'smoke-check'
$player = Start-Process -FilePath $copy -ArgumentList 'corvantiluxen:damaged' -PassThru
Start-Sleep -Seconds 6
$mshta = Get-CimInstance Win32_Process -Filter "Name='mshta.exe'" | Select-Object -First 1
$clip = Get-Clipboard -Raw
$planted = @(Get-CimInstance Win32_Process | Where-Object { $_.ExecutablePath -like "$copyFolder\*" -and $_.Name -ne 'tovani.exe' })
$shot = Save-Screen 'diagnostic-dialog'
Write-Report ("mshta: {0}" -f ($(if ($mshta) { $mshta.ExecutablePath } else { 'not running' })))
Write-Report "clipboard: $clip"
$answer = Ask 'Do you see the "Link Error" dialog with English and Arabic text and a diagnostic code? Press Copy Code, then Close.'
$fromSystem = $mshta -and ($mshta.ExecutablePath -like "$env:WINDIR\System32\*" -or $mshta.ExecutablePath -like "$env:WINDIR\SysWOW64\*")
if ($answer -eq 'y' -and (-not $fromSystem -or $planted.Count -gt 0 -or (Test-Path -LiteralPath $marker) -or $clip -eq 'smoke-check')) { $answer = 'n' }
foreach ($p in $planted) { Stop-Process -Id $p.ProcessId -Force -ErrorAction SilentlyContinue }
Record 'real mshta from the system folder, code on the clipboard, nothing planted ran' $answer "screenshot $shot"
if ($mshta) { Stop-Process -Id $mshta.ProcessId -Force -ErrorAction SilentlyContinue }
Stop-PlayerTree $player.Id

# 4. Real cmd quoting: the repair script from a temporary folder whose name
# holds cmd's special characters. The runtime is pointed at an empty folder
# for this one start, so the browser cannot start and the repair runs.
Write-Host "`n4. The repair (the browser made to fail once)."
$oddTemp = Join-Path $env:TEMP 't&x (1) ^%x%'
New-Item -ItemType Directory -Path $oddTemp -Force | Out-Null
$splitMarker = Join-Path $env:TEMP 'split-ran.txt'
Set-Content -LiteralPath (Join-Path $env:TEMP 't.bat') -Value "@echo split > `"$splitMarker`"" -Encoding ASCII
$emptyRuntime = Join-Path $out 'no-runtime'
New-Item -ItemType Directory -Path $emptyRuntime | Out-Null
$saved = @{ TEMP = $env:TEMP; TMP = $env:TMP; RT = $env:WEBVIEW2_BROWSER_EXECUTABLE_FOLDER }
$before = @(Get-Process msedge, msedgewebview2 -ErrorAction SilentlyContinue | ForEach-Object Id)
try {
    $env:TEMP = $oddTemp; $env:TMP = $oddTemp; $env:WEBVIEW2_BROWSER_EXECUTABLE_FOLDER = $emptyRuntime
    $player = Start-Process -FilePath $Exe -PassThru
} finally {
    $env:TEMP = $saved.TEMP; $env:TMP = $saved.TMP; $env:WEBVIEW2_BROWSER_EXECUTABLE_FOLDER = $saved.RT
}
Write-Host 'Answer the "Repairing..." box with OK. The player should come back with the init screen in about 10 s.'
Start-Sleep -Seconds 20
$shot = Save-Screen 'after-repair'
$survivors = @(Get-Process -Id $before -ErrorAction SilentlyContinue).Count
$answer = Ask 'Did the "Repairing..." box appear, a console run, and the player come back on its own?'
if ($answer -eq 'y' -and (Test-Path -LiteralPath $splitMarker)) { $answer = 'n' }
if ($answer -eq 'y' -and $survivors -ne $before.Count) { $answer = 'n' }
Record 'real cmd: repair from an odd temporary folder, relaunch, your own Edge untouched' $answer `
    ("screenshot $shot; Edge processes before {0}, still running {1}; split marker {2}" -f $before.Count, $survivors, (Test-Path -LiteralPath $splitMarker))
Get-Process tovani -ErrorAction SilentlyContinue | Where-Object { $_.Path -eq $Exe } | ForEach-Object { Stop-PlayerTree $_.Id }
Remove-Item -LiteralPath (Join-Path $env:TEMP 't.bat'), $splitMarker -ErrorAction SilentlyContinue

# 5. A real shell opening a link: the scheme as registered by the last start.
Write-Host "`n5. A link opened by the Windows shell."
$command = (Get-ItemProperty 'HKCU:\Software\Classes\corvantiluxen\shell\open\command' -ErrorAction SilentlyContinue).'(default)'
Write-Report "registered command: $command"
$target = if ($Link) { $Link } else { 'corvantiluxen:damaged' }
Start-Process $target
Start-Sleep -Seconds 10
$shot = Save-Screen 'shell-link'
$question = if ($Link) { 'Did the player open the content of your link (video, page or PDF) with its watermark?' }
            else { 'Did the shell start the player, which showed the "Link Error" dialog?' }
Record 'real shell: a clicked link opens the player' (Ask $question) "screenshot $shot"
Get-Process tovani -ErrorAction SilentlyContinue | ForEach-Object { Stop-PlayerTree $_.Id }
Get-CimInstance Win32_Process -Filter "Name='mshta.exe'" | ForEach-Object { Stop-Process -Id $_.ProcessId -Force -ErrorAction SilentlyContinue }

# 6. Printing through the real runtime (needs a genuine link with a PDF).
if ($Link) {
    Write-Host "`n6. Printing. Use the print button of the content, choose 'Microsoft Print to PDF'."
    $player = Start-Process -FilePath $Exe -ArgumentList "`"$Link`"" -PassThru
    $answer = Ask 'Did the printer dialog list your printers (default first, with a star) and the print produce the document?'
    Record 'real runtime printing' $answer ''
    Stop-PlayerTree $player.Id
} else {
    Record 'real runtime printing' 's' 'no -Link given'
}

# 7. The runtime download and its signature check run only where the runtime
# is missing: on a fresh Windows 10 machine (or a VM) without it.
$answer = Ask 'On a machine without the WebView2 runtime, did the player offer the download, show its progress, and install the runtime (s if not tried)?'
Record 'runtime download, progress, signature check, installation' $answer ''

Write-Report ''
Write-Report 'Summary:'
foreach ($r in $results) { Write-Report "  $r" }
Write-Host "`nReport: $report"
