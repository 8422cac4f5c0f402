<#
.SYNOPSIS
  Désinstalle Quorvelpack et Quorvelunpack de l'utilisateur courant.

.DESCRIPTION
  Enlève les commandes du menu contextuel listées dans commands.json et les fichiers
  qu'Install-Quorvel.ps1 a copiés ; rien d'autre. Le dossier d'installation n'est supprimé
  que s'il est vide ensuite. Les réglages de chaque programme (HKCU\Software\<programme>)
  sont laissés en place.

  Exemple : powershell -ExecutionPolicy Bypass -File .\Uninstall-Quorvel.ps1

.PARAMETER InstallDir
  Dossier d'installation ; par défaut %LOCALAPPDATA%\Programs\Quorvel.
#>
[CmdletBinding()]
param(
  [string]$InstallDir
)
Set-StrictMode -Version 3
$ErrorActionPreference = 'Stop'

# Saved as UTF-8 with a byte-order mark, like the installer, for Windows PowerShell 5.1.
$data = Get-Content -LiteralPath (Join-Path $PSScriptRoot 'commands.json') -Raw -Encoding UTF8 |
  ConvertFrom-Json
if (-not $InstallDir) { $InstallDir = Join-Path $env:LOCALAPPDATA $data.installDir }

$user = [Microsoft.Win32.Registry]::CurrentUser
foreach ($command in $data.commands) {
  # Only the command's own key and its "command" subkey: the shared parents
  # (Directory\shell, SystemFileAssociations\.zip\shell) belong to everyone.
  $user.DeleteSubKeyTree($command.key, $false)
}

$failed = @()
foreach ($file in @($data.programs) + @('Uninstall-Quorvel.ps1', 'commands.json')) {
  $path = Join-Path $InstallDir $file
  if (Test-Path -LiteralPath $path -PathType Leaf) {
    try { Remove-Item -LiteralPath $path -Force }
    catch { $failed += $path }
  }
}
if ((Test-Path -LiteralPath $InstallDir) -and
    -not (Get-ChildItem -LiteralPath $InstallDir -Force | Select-Object -First 1)) {
  Remove-Item -LiteralPath $InstallDir -Force
}

if ($failed.Count -gt 0) {
  Write-Warning ("Fichiers non supprimés (programme en cours d'exécution ?) : " + ($failed -join ', '))
  exit 1
}
Write-Host 'Quorvel est désinstallé.'
