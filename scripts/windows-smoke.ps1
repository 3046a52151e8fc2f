<#
.SYNOPSIS
  Hand check of tovani.exe on a real Windows 10/11 machine with the WebView2
  runtime: what the Wine test suite cannot reach. About fifteen minutes.

.DESCRIPTION
  Runs each check, asks what you see where only a person can tell, and writes
  a report (tovani-smoke-report.txt, with screenshots) into a folder beside
  this script. Run it from a normal (not elevated) PowerShell:

    powershell -ExecutionPolicy Bypass -File windows-smoke.ps1 -Exe C:\path\tovani.exe [-Link 'corvantiluxen:...']
        [-PdfLink ...] [-VideoLink ...] [-EmbedLink ...] [-YouTubeLink ...]

  -Link is a genuine link of the platform (for the shell check); without it
  that check uses a damaged link, which must end in the diagnostic dialog.
  -PdfLink, -VideoLink, -EmbedLink and -YouTubeLink are genuine links to a
  PDF, a hosted video, an embedded-frame page and a YouTube content; a check
  whose link is missing is reported as SKIP (-PdfLink defaults to -Link).

  Best run with the display scale at 150% (Settings > Display > Scale), and
  with a second monitor at another scale for the monitor check.
#>
param(
    [Parameter(Mandatory = $true)][string]$Exe,
    [string]$Link = '',
    [string]$PdfLink = '',
    [string]$VideoLink = '',
    [string]$EmbedLink = '',
    [string]$YouTubeLink = ''
)

$ErrorActionPreference = 'Stop'
Add-Type -AssemblyName System.Windows.Forms, System.Drawing
Add-Type -TypeDefinition @'
using System;
using System.Runtime.InteropServices;
public static class SmokeNative {
    [StructLayout(LayoutKind.Sequential)]
    public struct RECT { public int Left, Top, Right, Bottom; }
    [DllImport("user32.dll")] public static extern bool SetProcessDPIAware();
    [DllImport("user32.dll")] public static extern bool SetProcessDpiAwarenessContext(IntPtr context);
    [DllImport("user32.dll")] public static extern IntPtr GetWindowDpiAwarenessContext(IntPtr window);
    [DllImport("user32.dll")] public static extern bool AreDpiAwarenessContextsEqual(IntPtr a, IntPtr b);
    [DllImport("user32.dll")] public static extern uint GetDpiForWindow(IntPtr window);
    [DllImport("user32.dll")] public static extern bool GetWindowRect(IntPtr window, out RECT rect);
    [DllImport("user32.dll")] public static extern bool SetWindowPos(IntPtr window, IntPtr after, int x, int y, int cx, int cy, uint flags);
    [DllImport("user32.dll")] public static extern bool SetForegroundWindow(IntPtr window);
    [DllImport("user32.dll")] public static extern bool IsWindowVisible(IntPtr window);
    [DllImport("user32.dll")] public static extern bool PostMessage(IntPtr window, uint message, IntPtr wParam, IntPtr lParam);
    [DllImport("user32.dll", CharSet = CharSet.Unicode)]
    public static extern IntPtr FindWindowEx(IntPtr parent, IntPtr after, string className, string title);
    [DllImport("user32.dll")] public static extern uint GetWindowThreadProcessId(IntPtr window, out uint processId);
    [DllImport("shell32.dll", CharSet = CharSet.Unicode, EntryPoint = "ExtractIconExW")]
    public static extern uint ExtractIconEx(string file, int index, IntPtr[] large, IntPtr[] small, uint count);
    [DllImport("user32.dll")] public static extern bool DestroyIcon(IntPtr icon);

    // A visible top-level window of this class that belongs to this process.
    public static IntPtr WindowOf(int processId, string className) {
        IntPtr window = IntPtr.Zero;
        while ((window = FindWindowEx(IntPtr.Zero, window, className, null)) != IntPtr.Zero) {
            uint owner;
            GetWindowThreadProcessId(window, out owner);
            if (owner == (uint)processId && IsWindowVisible(window)) return window;
        }
        return IntPtr.Zero;
    }

    // How many icons the shell extracts from "file,index".
    public static uint IconsAt(string file, int index) {
        IntPtr[] large = new IntPtr[1];
        IntPtr[] small = new IntPtr[1];
        uint count = ExtractIconEx(file, index, large, small, 1);
        if (large[0] != IntPtr.Zero) DestroyIcon(large[0]);
        if (small[0] != IntPtr.Zero) DestroyIcon(small[0]);
        return large[0] != IntPtr.Zero ? count : 0;
    }
}
'@
# Screenshots and window rectangles in real pixels on every monitor: this
# script is per-monitor aware itself (Windows 10 1703+), else system aware.
try {
    if (-not [SmokeNative]::SetProcessDpiAwarenessContext([IntPtr](-4))) { [void][SmokeNative]::SetProcessDPIAware() }
} catch { [void][SmokeNative]::SetProcessDPIAware() }

$Exe = (Resolve-Path -LiteralPath $Exe).Path
if (-not $PdfLink) { $PdfLink = $Link }
$stamp = Get-Date -Format 'yyyyMMdd-HHmmss'
$out = Join-Path $PSScriptRoot "tovani-smoke-$stamp"
New-Item -ItemType Directory -Path $out | Out-Null
$report = Join-Path $out 'tovani-smoke-report.txt'
$results = New-Object System.Collections.Generic.List[string]
$playerClass = 'TovaniWindow'
$initClass = 'KelbroInitWindow'
$recoveryNotice = 'The content stopped unexpectedly and is being reloaded...'

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

# The pages of a printed PDF, rendered by Windows' own PDF support into PNGs
# beside the report, each with its count of the watermark's light red
# pixels (the watermark is an opaque 255,217,217 over white paper).
function Read-PrintedPages([string]$path) {
    Add-Type -AssemblyName System.Runtime.WindowsRuntime
    $null = [Windows.Storage.StorageFile, Windows.Storage, ContentType = WindowsRuntime]
    $null = [Windows.Data.Pdf.PdfDocument, Windows.Data.Pdf, ContentType = WindowsRuntime]
    $null = [Windows.Storage.Streams.InMemoryRandomAccessStream, Windows.Storage.Streams, ContentType = WindowsRuntime]
    $asTaskOf = [System.WindowsRuntimeSystemExtensions].GetMethods() | Where-Object {
        $_.Name -eq 'AsTask' -and $_.IsGenericMethod -and $_.GetParameters().Count -eq 1 -and
        $_.GetParameters()[0].ParameterType.Name -eq 'IAsyncOperation`1' } | Select-Object -First 1
    $asTask = [System.WindowsRuntimeSystemExtensions].GetMethods() | Where-Object {
        $_.Name -eq 'AsTask' -and -not $_.IsGenericMethod -and $_.GetParameters().Count -eq 1 -and
        $_.GetParameters()[0].ParameterType.Name -eq 'IAsyncAction' } | Select-Object -First 1
    $file = $asTaskOf.MakeGenericMethod([Windows.Storage.StorageFile]).Invoke($null, @([Windows.Storage.StorageFile]::GetFileFromPathAsync($path))).Result
    $document = $asTaskOf.MakeGenericMethod([Windows.Data.Pdf.PdfDocument]).Invoke($null, @([Windows.Data.Pdf.PdfDocument]::LoadFromFileAsync($file))).Result
    $found = @()
    for ($i = 0; $i -lt $document.PageCount; $i++) {
        $page = $document.GetPage($i)
        $stream = New-Object Windows.Storage.Streams.InMemoryRandomAccessStream
        $asTask.Invoke($null, @($page.RenderToStreamAsync($stream))).Wait()
        $bitmap = [System.Drawing.Bitmap]::FromStream([System.IO.WindowsRuntimeStreamExtensions]::AsStreamForRead($stream))
        $red = 0
        for ($y = 0; $y -lt $bitmap.Height; $y += 2) {
            for ($x = 0; $x -lt $bitmap.Width; $x += 2) {
                $c = $bitmap.GetPixel($x, $y)
                if ($c.R -gt 230 -and $c.G -lt 235 -and $c.G -gt 150 -and [Math]::Abs([int]$c.G - [int]$c.B) -lt 20) { $red++ }
            }
        }
        $image = Join-Path $out ("printed-page-{0}.png" -f ($i + 1))
        $bitmap.Save($image, [System.Drawing.Imaging.ImageFormat]::Png)
        $bitmap.Dispose(); $page.Dispose()
        $found += [pscustomobject]@{ Page = $i + 1; Red = $red; Image = $image }
    }
    return $found
}

# The processes below a process (itself included), by parent id.
function Get-ProcessTree([int]$rootId) {
    $all = @(Get-CimInstance Win32_Process)
    $ids = New-Object System.Collections.Generic.HashSet[int]
    [void]$ids.Add($rootId)
    do {
        $grown = $false
        foreach ($p in $all) {
            if ($ids.Contains([int]$p.ParentProcessId) -and $ids.Add([int]$p.ProcessId)) { $grown = $true }
        }
    } while ($grown)
    return @($all | Where-Object { $ids.Contains([int]$_.ProcessId) })
}

# Processes the player started (the player itself included), so that only
# they are ended here: the user's own browser and other programs stay.
function Stop-PlayerTree([int]$rootId) {
    foreach ($p in (Get-ProcessTree $rootId)) { Stop-Process -Id $p.ProcessId -Force -ErrorAction SilentlyContinue }
}

# Every player started from this -Exe, and what it started.
function Stop-AllPlayers {
    Get-Process tovani -ErrorAction SilentlyContinue | Where-Object { $_.Path -eq $Exe } | ForEach-Object { Stop-PlayerTree $_.Id }
}

# The player's window (player or init screen), waited for up to a while.
function Wait-Window([int]$processId, [string]$className, [int]$seconds = 20) {
    $until = (Get-Date).AddSeconds($seconds)
    while ((Get-Date) -lt $until) {
        $window = [SmokeNative]::WindowOf($processId, $className)
        if ($window -ne [IntPtr]::Zero) { return $window }
        Start-Sleep -Milliseconds 250
    }
    return [IntPtr]::Zero
}

function Start-Player([string]$argument) {
    if ($argument) { return Start-Process -FilePath $Exe -ArgumentList "`"$argument`"" -PassThru }
    return Start-Process -FilePath $Exe -PassThru
}

Write-Report "Tovani smoke check, $(Get-Date -Format o)"
$dpi = (Get-ItemProperty 'HKCU:\Control Panel\Desktop\WindowMetrics' -ErrorAction SilentlyContinue).AppliedDPI
if (-not $dpi) { $dpi = 96 }
Write-Report ("Windows {0}, build {1}; display scale {2}%; monitors {3}" -f `
    [Environment]::OSVersion.Version, (Get-ItemProperty 'HKLM:\SOFTWARE\Microsoft\Windows NT\CurrentVersion').CurrentBuild, `
    [math]::Round($dpi * 100 / 96), [System.Windows.Forms.Screen]::AllScreens.Count)
Write-Report "Program: $Exe ($((Get-Item -LiteralPath $Exe).Length) bytes)"
$signature = Get-AuthenticodeSignature -LiteralPath $Exe
Write-Report "Program signature: $($signature.Status) $($signature.SignerCertificate.Subject)"
foreach ($root in 'HKLM:\SOFTWARE\WOW6432Node\Microsoft\EdgeUpdate\Clients\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}',
                  'HKCU:\SOFTWARE\Microsoft\EdgeUpdate\Clients\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}') {
    $version = (Get-ItemProperty -Path $root -ErrorAction SilentlyContinue).pv
    if ($version) { Write-Report "WebView2 runtime: $version ($root)" }
}
Write-Report ''
if ($dpi -lt 144) {
    Write-Host 'The display scale is below 150%. For the sharpness checks set it to 150% now (Settings > Display > Scale); press Enter when done.'
    [void](Read-Host)
}

# 1. The real runtime: the init screen with the start page and its bar.
Write-Host "`n1. The init screen. The player starts without a link."
$player = Start-Player ''
$window = Wait-Window $player.Id $initClass
Start-Sleep -Seconds 6
$shot = Save-Screen 'init-screen'
$answer = Ask 'Do you see the Tovani window with the start page and the small navigation bar (home, back, fullscreen)? Try each button.'
Record 'real runtime: init screen, start page, navigation bar' $answer "screenshot $shot"
$answer = Ask 'Press F11 or the fullscreen button, then leave fullscreen. Did the window fill the screen and come back?'
Record 'init screen fullscreen' $answer ''
# The platform's pinned pages reach the view through the player's own
# connections; the site's cookies must still hold a sign-in.
Write-Host 'If the start page offers a sign-in, sign in now (skip otherwise).'
[void](Read-Host 'Press Enter when done')
# Closed as a user closes it, so the browser writes its cookies out.
[void]$player.CloseMainWindow(); [void]$player.WaitForExit(15000)
Stop-PlayerTree $player.Id
$player = Start-Player ''
$window = Wait-Window $player.Id $initClass
Start-Sleep -Seconds 6
$answer = Ask 'The player was closed and started again. Is the start page shown, and are you still signed in (s if there is no sign-in)?'
Record 'start page again after a restart, the sign-in kept' $answer ''

# 2. High DPI: the program declares itself per-monitor aware (v2), so Windows
# does not stretch its bitmaps; its windows size themselves for each monitor.
Write-Host "`n2. High DPI: sharpness at this scale, and on a monitor of another scale."
$aware = $false
$windowDpi = 0
if ($window -ne [IntPtr]::Zero) {
    try {
        $aware = [SmokeNative]::AreDpiAwarenessContextsEqual([SmokeNative]::GetWindowDpiAwarenessContext($window), [IntPtr](-4))
        $windowDpi = [SmokeNative]::GetDpiForWindow($window)
    } catch { }
}
Record 'manifest: the window is per-monitor DPI aware (v2)' $(if ($aware) { 'y' } else { 'n' }) "window DPI $windowDpi"
Stop-PlayerTree $player.Id
$player = Start-Player ''
Start-Sleep -Milliseconds 700
$shot = Save-Screen 'splash'
$window = Wait-Window $player.Id $initClass
Start-Sleep -Seconds 5
$shot2 = Save-Screen 'init-screen-scaled'
$answer = Ask 'Were the splash image and the window sharp (text and edges crisp, not blurred) and sized sensibly for this scale?'
Record 'high DPI: splash and window sharp at this scale' $answer "screenshots $shot, $shot2"
if ([System.Windows.Forms.Screen]::AllScreens.Count -ge 2) {
    $answer = Ask 'Drag the window to the other monitor (set to another scale) and back. Did it keep its proportions, its bar and text stay sharp and sized for each monitor?'
    $shot = Save-Screen 'other-monitor'
    Record 'high DPI: moved between monitors of different scales' $answer "screenshot $shot"
} else {
    Record 'high DPI: moved between monitors of different scales' 's' 'one monitor only'
}
Stop-PlayerTree $player.Id

# 3. The file's own version information and the scheme's icon.
Write-Host "`n3. Version information and icon."
$info = (Get-Item -LiteralPath $Exe).VersionInfo
$fields = "FileVersion={0}; ProductVersion={1}; ProductName={2}; OriginalFilename={3}; CompanyName={4}; FileDescription={5}; LegalCopyright={6}" -f `
    $info.FileVersion, $info.ProductVersion, $info.ProductName, $info.OriginalFilename, $info.CompanyName, $info.FileDescription, $info.LegalCopyright
$fieldsRight = $info.FileVersion -eq '4.9.0' -and $info.ProductVersion -eq '4.9.0' -and $info.ProductName -eq 'Tovani' -and `
    $info.OriginalFilename -eq 'tovani.exe' -and $info.FileMajorPart -eq 4 -and $info.FileMinorPart -eq 9
$answer = Ask 'Open the file''s Properties > Details in Explorer. Do you see File version 4.9.0.0, Product name Tovani, Product version 4.9.0 and a copyright?'
if ($answer -eq 'y' -and -not $fieldsRight) { $answer = 'n' }
Record 'version information in the file''s Properties' $answer $fields
$icon = (Get-ItemProperty 'HKCU:\Software\Classes\corvantiluxen\DefaultIcon' -ErrorAction SilentlyContinue).'(default)'
$iconOk = $false
if ($icon -match '^(.*),(-?\d+)$') { $iconOk = [SmokeNative]::IconsAt($Matches[1], [int]$Matches[2]) -gt 0 }
Record 'the scheme''s DefaultIcon names an icon the program has' $(if ($iconOk) { 'y' } else { 'n' }) "DefaultIcon: $icon"

# 4. Real mshta, started from the system folder: a damaged link ends in the
# diagnostic dialog, whose code is on the clipboard. A file named mshta.exe
# beside the program must not be the one that runs.
Write-Host "`n4. The diagnostic dialog (a damaged link)."
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

# 5. Real cmd quoting: the repair script from a temporary folder whose name
# holds cmd's special characters. The runtime stays as it is (the start-up
# probe must find it, or the player offers an installation instead of a
# repair); what fails is the browser itself: a file stands where its data
# folder goes, so it cannot start there and the player repairs. The file goes
# as soon as the player has closed for the repair, so the relaunch comes up.
Write-Host "`n5. The repair (the browser made to fail once)."
Stop-AllPlayers
Start-Sleep -Seconds 2
$oddTemp = Join-Path $env:TEMP 't&x (1) ^%x%'
New-Item -ItemType Directory -Path $oddTemp -Force | Out-Null
$splitMarker = Join-Path $env:TEMP 'split-ran.txt'
Set-Content -LiteralPath (Join-Path $env:TEMP 't.bat') -Value "@echo split > `"$splitMarker`"" -Encoding ASCII
# A flag left by an earlier repair would turn this one into the failure report.
Remove-Item -LiteralPath (Join-Path $oddTemp 'webview2_repair_done.flag') -Force -ErrorAction SilentlyContinue
$dataParent = Join-Path $env:LOCALAPPDATA 'Tovani'
$dataFolder = Join-Path $dataParent 'WebView2Data'
# Not a "WebView2Data_bad_*" name: the player sweeps those away.
$keptData = Join-Path $dataParent "smoke-kept-WebView2Data-$stamp"
New-Item -ItemType Directory -Path $dataParent -Force | Out-Null
$hadData = Test-Path -LiteralPath $dataFolder
$saved = @{ TEMP = $env:TEMP; TMP = $env:TMP }
$before = @(Get-Process msedge, msedgewebview2 -ErrorAction SilentlyContinue | ForEach-Object Id)
$moved = $false
$ours = $false   # what stands at the data folder's name is the check's own
try {
    if ($hadData) {
        Rename-Item -LiteralPath $dataFolder -NewName (Split-Path -Leaf $keptData)
        $moved = $true
    }
    $ours = $true
    Set-Content -LiteralPath $dataFolder -Value 'smoke check: a file where the browser data folder goes' -Encoding ASCII
    try {
        $env:TEMP = $oddTemp; $env:TMP = $oddTemp
        $player = Start-Process -FilePath $Exe -PassThru
    } finally {
        $env:TEMP = $saved.TEMP; $env:TMP = $saved.TMP
    }
    Write-Host 'Answer the "Repairing..." box with OK. The player should come back with the init screen in about 10 s. (Should no box come and the start page show, close the window.)'
    $closed = $player.WaitForExit(120000)
    Remove-Item -LiteralPath $dataFolder -Force -ErrorAction SilentlyContinue
    Start-Sleep -Seconds 15
    $shot = Save-Screen 'after-repair'
    $survivors = if ($before.Count -gt 0) { @(Get-Process -Id $before -ErrorAction SilentlyContinue).Count } else { 0 }
    $answer = Ask 'Did the "Repairing..." box appear, a console run, and the player come back on its own with the start page?'
    if ($answer -eq 'y' -and -not $closed) { $answer = 'n' }
    if ($answer -eq 'y' -and (Test-Path -LiteralPath $splitMarker)) { $answer = 'n' }
    if ($answer -eq 'y' -and $survivors -ne $before.Count) { $answer = 'n' }
    Record 'real cmd: repair from an odd temporary folder, relaunch, your own Edge untouched' $answer `
        ("screenshot $shot; player closed for the repair {0}; Edge processes before {1}, still running {2}; split marker {3}" -f `
            $closed, $before.Count, $survivors, (Test-Path -LiteralPath $splitMarker))
} catch {
    Record 'real cmd: repair from an odd temporary folder, relaunch, your own Edge untouched' 's' "not run: $($_.Exception.Message)"
} finally {
    $env:TEMP = $saved.TEMP; $env:TMP = $saved.TMP
    Stop-AllPlayers
    Start-Sleep -Seconds 2
    # The planted file, or the folder the relaunched player made, then the
    # user's own data folder back in its place.
    if ($ours -and (Test-Path -LiteralPath $dataFolder)) {
        Remove-Item -LiteralPath $dataFolder -Recurse -Force -ErrorAction SilentlyContinue
    }
    if ($moved) {
        if (Test-Path -LiteralPath $dataFolder) { Write-Report "NOTE: your browser data folder is kept at $keptData" }
        else { Rename-Item -LiteralPath $keptData -NewName 'WebView2Data' }
    }
    Remove-Item -LiteralPath (Join-Path $env:TEMP 't.bat'), $splitMarker -ErrorAction SilentlyContinue
    Remove-Item -LiteralPath $oddTemp -Recurse -Force -ErrorAction SilentlyContinue
}

# 6. A real shell opening a link: the scheme as registered by the last start.
Write-Host "`n6. A link opened by the Windows shell."
$command = (Get-ItemProperty 'HKCU:\Software\Classes\corvantiluxen\shell\open\command' -ErrorAction SilentlyContinue).'(default)'
Write-Report "registered command: $command"
$target = if ($Link) { $Link } else { 'corvantiluxen:damaged' }
Start-Process $target
Start-Sleep -Seconds 10
$shot = Save-Screen 'shell-link'
$question = if ($Link) { 'Did the player open the content of your link (video, page or PDF) with its watermark?' }
            else { 'Did the shell start the player, which showed the "Link Error" dialog?' }
Record 'real shell: a clicked link opens the player' (Ask $question) "screenshot $shot"
Stop-AllPlayers
Get-CimInstance Win32_Process -Filter "Name='mshta.exe'" | ForEach-Object { Stop-Process -Id $_.ProcessId -Force -ErrorAction SilentlyContinue }

# 7. A PDF: the watermark on its very first load, and printing through the
# real runtime.
if ($PdfLink) {
    Write-Host "`n7. A PDF content: watermark and printing."
    $player = Start-Player $PdfLink
    [void](Wait-Window $player.Id $playerClass)
    Start-Sleep -Seconds 6
    $shot = Save-Screen 'pdf-first-load'
    Record 'PDF: watermark visible on the first load' (Ask 'Is the watermark text over the PDF now, without reloading anything?') "screenshot $shot"
    # The document printed to "Microsoft Print to PDF", read back: its pages,
    # each rendered by Windows' own PDF support and looked at for the
    # watermark's light red.
    $printed = Join-Path $out 'printed.pdf'
    Write-Host "Use the print button of the content and choose 'Microsoft Print to PDF'; save the file as:"
    Write-Host "  $printed"
    $waited = 0
    while (-not (Test-Path -LiteralPath $printed) -and $waited -lt 180) { Start-Sleep -Seconds 1; $waited++ }
    Start-Sleep -Seconds 3
    $shot = Save-Screen 'pdf-printed'
    if (Test-Path -LiteralPath $printed) {
        $pages = Read-PrintedPages $printed
        $note = "screenshot $shot; " + (($pages | ForEach-Object { "page $($_.Page): $($_.Red) watermark pixels ($($_.Image))" }) -join '; ')
        $marked = @($pages | Where-Object { $_.Red -gt 50 }).Count
        Write-Host ("The printed file has {0} page(s); {1} carry the watermark's colour." -f $pages.Count, $marked)
        $answer = Ask 'Did the printer dialog list your printers (default first, with a star), the notice say "Printed." in both languages, and does printed.pdf hold every page of the document, its text selectable, with the watermark on each?'
        if ($answer -eq 'y' -and ($pages.Count -eq 0 -or $marked -ne $pages.Count)) { $answer = 'n' }
        Record 'PDF printed as the document with the watermark on every page' $answer $note
    } else {
        Record 'PDF printed as the document with the watermark on every page' 'n' "no file at $printed after 3 minutes; screenshot $shot"
    }
    Stop-PlayerTree $player.Id
} else {
    Record 'PDF: watermark visible on the first load' 's' 'no -PdfLink or -Link given'
    Record 'PDF printed as the document with the watermark on every page' 's' 'no -PdfLink or -Link given'
}

# 8. Pages in frames, and YouTube, whose embed plays only when the page sent
# its referrer.
if ($EmbedLink) {
    Write-Host "`n8a. An embedded-frame content."
    $player = Start-Player $EmbedLink
    [void](Wait-Window $player.Id $playerClass)
    Start-Sleep -Seconds 8
    $shot = Save-Screen 'embedded-frame'
    Record 'embedded frames load' (Ask 'Did the page and everything inside its frames load (no empty or refused frame), with the watermark?') "screenshot $shot"
    Stop-PlayerTree $player.Id
} else {
    Record 'embedded frames load' 's' 'no -EmbedLink given'
}
if ($YouTubeLink) {
    Write-Host "`n8b. A YouTube content."
    $player = Start-Player $YouTubeLink
    [void](Wait-Window $player.Id $playerClass)
    Start-Sleep -Seconds 8
    $answer = Ask 'Press play. Does the YouTube video play (no "Video unavailable" or player configuration error)?'
    $shot = Save-Screen 'youtube'
    Record 'YouTube embed plays (the referrer was sent)' $answer "screenshot $shot"
    Stop-PlayerTree $player.Id
} else {
    Record 'YouTube embed plays (the referrer was sent)' 's' 'no -YouTubeLink given'
}

# 9. A hosted video: playing under the printer dialog, its own fullscreen
# button, a drop-down in a moved window, and a renderer that ends.
if ($VideoLink) {
    Write-Host "`n9. A video content."
    $player = Start-Player $VideoLink
    $window = Wait-Window $player.Id $playerClass
    Start-Sleep -Seconds 6
    Write-Host 'Start the video, then press the print button of the content and leave the printer dialog open.'
    $answer = Ask 'With the printer dialog open, does the video keep playing (picture and sound)? Then Cancel the dialog.'
    $shot = Save-Screen 'video-under-printer-dialog'
    Record 'video keeps playing while the printer dialog is open' $answer "screenshot $shot"

    $answer = Ask 'Press the video''s own fullscreen button (in its controls). Did the video fill the whole screen? Then press Esc: did it come back into the window?'
    Record 'video''s own fullscreen button, Esc leaves it' $answer ''
    $answer = Ask 'Drag the video''s position to its last quarter, then back to the start. Does it play on from each place within a few seconds?'
    Record 'video seeks forward and back' $answer ''

    if ($window -ne [IntPtr]::Zero) {
        $rect = New-Object SmokeNative+RECT
        [void][SmokeNative]::GetWindowRect($window, [ref]$rect)
        # SWP_NOSIZE | SWP_NOZORDER
        [void][SmokeNative]::SetWindowPos($window, [IntPtr]::Zero, $rect.Left + 160, $rect.Top + 120, 0, 0, 0x0001 -bor 0x0004)
        [void][SmokeNative]::SetForegroundWindow($window)
        Start-Sleep -Milliseconds 500
        $answer = Ask 'The window was moved. Open a drop-down of the content (for example the video''s playback speed or quality list, or a list box on the page). Did it open right under its control, not where the window was before?'
        $shot = Save-Screen 'drop-down-after-move'
        Record 'drop-down opens under its control after the window moved' $answer "screenshot $shot"
    } else {
        Record 'drop-down opens under its control after the window moved' 's' 'player window not found'
    }

    # What Task Manager's "End task" on a renderer does.
    $renderers = @(Get-ProcessTree $player.Id | Where-Object { $_.Name -eq 'msedgewebview2.exe' -and $_.CommandLine -like '*--type=renderer*' })
    if ($renderers.Count -gt 0) {
        foreach ($r in $renderers) { Stop-Process -Id $r.ProcessId -Force -ErrorAction SilentlyContinue }
        Start-Sleep -Seconds 2
        $shot = Save-Screen 'renderer-ended-notice'
        Start-Sleep -Seconds 6
        $shot2 = Save-Screen 'renderer-ended-back'
        $answer = Ask "The content's renderer was ended. Did the window show `"$recoveryNotice`" with its Arabic line, and the content come back with its watermark?"
        Record 'renderer ended: content back with watermark and the bilingual notice' $answer `
            ("ended {0} renderer process(es); screenshots $shot, $shot2" -f $renderers.Count)
    } else {
        $answer = Ask "No renderer process found by the script. In Task Manager, expand Tovani and end a `"WebView2`" renderer process: did the window show `"$recoveryNotice`" with its Arabic line and the content come back with its watermark?"
        Record 'renderer ended: content back with watermark and the bilingual notice' $answer 'ended by hand'
    }
    Stop-PlayerTree $player.Id

    # Players share one browser process when they share a data folder: the
    # end of one, or the start of another, must not take the others' content.
    Write-Host "`n10. Two players, then a third."
    $first = Start-Player $VideoLink
    Start-Sleep -Seconds 8
    $second = Start-Player $VideoLink
    [void](Wait-Window $second.Id $playerClass)
    Start-Sleep -Seconds 6
    Write-Host 'Start the video in the second window (the one that opened last) and leave it playing.'
    [void](Read-Host 'Press Enter when the second video plays')
    # Closed as the user closes it (WM_CLOSE), not ended.
    $firstWindow = [SmokeNative]::WindowOf($first.Id, $playerClass)
    if ($firstWindow -ne [IntPtr]::Zero) { [void][SmokeNative]::PostMessage($firstWindow, 0x0010, [IntPtr]::Zero, [IntPtr]::Zero) }
    else { Stop-PlayerTree $first.Id }
    Start-Sleep -Seconds 4
    $third = Start-Player $VideoLink
    [void](Wait-Window $third.Id $playerClass)
    Start-Sleep -Seconds 8
    $shot = Save-Screen 'second-player-after-third'
    $secondAlive = -not $second.HasExited
    $answer = Ask 'The first window was closed and a third started. Did the second window''s video keep playing all along, and did the third show its content?'
    if ($answer -eq 'y' -and -not $secondAlive) { $answer = 'n' }
    Record 'two players, the first closed, a third started: the second keeps playing' $answer `
        ("screenshot $shot; second player still running: $secondAlive")
    foreach ($p in $first, $second, $third) { Stop-PlayerTree $p.Id }
} else {
    foreach ($check in 'video keeps playing while the printer dialog is open', 'video''s own fullscreen button, Esc leaves it',
                       'video seeks forward and back', 'drop-down opens under its control after the window moved',
                       'renderer ended: content back with watermark and the bilingual notice',
                       'two players, the first closed, a third started: the second keeps playing') {
        Record $check 's' 'no -VideoLink given'
    }
}

# 11. The runtime download and its signature check run only where the runtime
# is missing: on a fresh Windows 10 machine (or a VM) without it.
$answer = Ask 'On a machine without the WebView2 runtime, did the player offer the download, show its progress (sharp at this scale), and install the runtime (s if not tried)?'
Record 'runtime download, progress, signature check, installation' $answer ''

Write-Report ''
Write-Report 'Summary:'
foreach ($r in $results) { Write-Report "  $r" }
Write-Host "`nReport: $report"
