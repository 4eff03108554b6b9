-- Rows the program needs before the first login.

-- Configuration. Writers only UPDATE, so a key without a row would be lost:
-- every key the program reads or writes is here, active ('1').
-- Version must equal [Login] Version of Quorv10.ini, or the program refuses to start.
INSERT INTO tConfig2 (ID, value, status, modifyTime) VALUES
 ('Version',                 '1.2.0.0', '1', datetime('now','localtime')),
 ('DBVersion',               '1',       '1', datetime('now','localtime')),
 ('updateHtml',              'http://127.0.0.1:18092/download.htm', '1', datetime('now','localtime')),
 ('TrayIconHint',            'Quorvix---关心您的健康', '1', datetime('now','localtime')),
 ('DevID',                   '',        '1', datetime('now','localtime')),
 ('AreaCodeNo',              '-1',      '1', datetime('now','localtime')),
 ('LocalUrlHead',            '',        '1', datetime('now','localtime')),
 ('RemoteUrlHead',           '',        '1', datetime('now','localtime')),
 ('DataSyncCheck',           '0',       '1', datetime('now','localtime')),
 ('ShowTodayNews',           '1',       '1', datetime('now','localtime')),
 ('AutoHideFullScreen',      '1',       '1', datetime('now','localtime')),
 ('NotifyMessageFullScreen', '1',       '1', datetime('now','localtime')),
 ('ShowTipSeconds',          '1',       '1', datetime('now','localtime')),
 ('CloseAllSound',           '0',       '1', datetime('now','localtime')),
 ('CloseSwitchItemSound',    '0',       '1', datetime('now','localtime')),
 ('CloseSystemTipSound',     '0',       '1', datetime('now','localtime')),
 ('CloseMsgSound',           '0',       '1', datetime('now','localtime')), -- the page's name for the system-tip sound flag
 ('UpdateMode',              '1',       '1', datetime('now','localtime')),
 ('DataSaveWay',             '2',       '1', datetime('now','localtime')),
 ('ShowMessageBox',          '0',       '1', datetime('now','localtime')),
 ('FloatBarInfo',            '1,-1,-1', '1', datetime('now','localtime')), -- float bar visible on first start
 ('SurroundWinInfo',         '0,-1,-1', '1', datetime('now','localtime')),
 ('NavigateWinInfo',         '0,-1,-1', '1', datetime('now','localtime')),
 ('AppWinInfo',              '0,-1,-1', '1', datetime('now','localtime')),
 ('NotifyWinInfo',           '0,-1,-1', '1', datetime('now','localtime')),
 ('NoteWinInfo',             '0,-1,-1', '1', datetime('now','localtime'));

-- Serial numbers (created on first use otherwise; seeded so they are visible).
INSERT INTO tSerialNo (serialCode, serialName, serialNo, modifyTime) VALUES
 (5000, 'AlertNo',          1, datetime('now','localtime')),
 (5010, 'ElementDataRecNo', 1, datetime('now','localtime')),
 (5020, 'ActionDataRecNo',  1, datetime('now','localtime'));

-- One-row tables: updated without a where clause (or by the one userNo), never inserted.
-- syncNo and realMessNo -1 so that the server's first number differs from them.
INSERT INTO tMaxDeletedRecNo VALUES (0, 0, datetime('now','localtime'));
INSERT INTO tUser VALUES (-1,'','','',0,'','','','','','',-1,-1,'',-1,-1,-1,
  0,0,0,0,-1,-1,-1,'1','',datetime('now','localtime'));
INSERT INTO tUserExp VALUES (-1,'','','','','','','','','','','','0',0,0,0,0,0,0,
  '','',0,-1,'1','',datetime('now','localtime'));
INSERT INTO tRealWeather VALUES (-1,0,'',-1,'','',-1,'',-1,'',-29999,-29999,-29999,
  -1,-1,-1,-1,'',-1,-1,-1,'1','','');
INSERT INTO tPedoTarget VALUES (0,-1,-1,-1,-1,-1,-1,-1,-1,-1,-1,-1,-1,0,0,-1,-1,-1,-1,'','1','');

-- Assessment rank tables. The keep-alive only asks the server for parameters
-- held locally, so each must exist; syncNo 0 lets any server number fetch it.
INSERT INTO tParameter (parameterNo, parameterID, value, syncNo, status, note, modifyTime) VALUES
 (1,  'assessPoint_all',   '', 0, '1', '', datetime('now','localtime')),
 (2,  'assessPoint_type0', '', 0, '1', '', datetime('now','localtime')),
 (3,  'assessPoint_type1', '', 0, '1', '', datetime('now','localtime')),
 (4,  'assessPoint_type2', '', 0, '1', '', datetime('now','localtime')),
 (5,  'assessPoint_type3', '', 0, '1', '', datetime('now','localtime')),
 (6,  'assessPoint_type4', '', 0, '1', '', datetime('now','localtime')),
 (7,  'assessPoint_type5', '', 0, '1', '', datetime('now','localtime')),
 (8,  'assessPoint_type6', '', 0, '1', '', datetime('now','localtime')),
 (9,  'assessPoint_type7', '', 0, '1', '', datetime('now','localtime')),
 (10, 'assessPoint_type8', '', 0, '1', '', datetime('now','localtime')),
 (11, 'assessPoint_type9', '', 0, '1', '', datetime('now','localtime'));

-- Health-element dictionaries. Every element's type and source must be listed
-- here, or its value updates are refused. Type 40 posts the weather refresh;
-- type 50 keeps no history and is not uploaded from a batch.
INSERT INTO tHealthElementType (healthElementType,healthElementTypeName,healthElementTypeNote,dispNo,nodeIconFileName,lastRecNo,lastOpCode,status,note) VALUES
 (10,'基本信息','',1,'',-1,'0','1',''),
 (20,'血压','',2,'',-1,'0','1',''),
 (30,'运动','',3,'',-1,'0','1',''),
 (40,'天气','',4,'',-1,'0','1',''),
 (50,'电脑使用','',5,'',-1,'0','1',''),
 (60,'室内环境','',6,'',-1,'0','1','');
-- Pedometers are 120-129, blood-pressure monitors 1000-1099. The monitor is found by
-- the USB ids of its serial adapter, the ids its model file names.
INSERT INTO tHealthElementSourceType (sourceNo,sourceName,sourceType,devCompanyName,devProductsModel,interfaceName,vendorID,productID,sourceNote,dispNo,productIconFileName,companyIconFileName,lastRecNo,lastOpCode,status,note) VALUES
 (1,   '手工录入', '2','','','',-1,-1,'',1,'','',-1,'0','1',''),
 (2,   '系统计算', '1','','','',-1,-1,'',2,'','',-1,'0','1',''),
 (3,   '天气服务', '2','','','',-1,-1,'',3,'','',-1,'0','1',''),
 (122, '计步器',   '3','','stridex-4473','stridex-4473.dll',3141,28865,'',4,'','',-1,'0','1',''), -- USB 0x0C45:0x70C1
 (1002,'血压计',   '3','','Tsv-4826-LR','Tsv-4826-LR.dll',2846,23041,'',5,'','',-1,'0','1',''); -- USB 0x0B1E:0x5A01

-- Health elements: every ID the program names. userNo -1 is stamped with the
-- user's number after the first login.
INSERT INTO tHealthElement (userNo,healthElementID,healthElementName,healthElementType,valueNo,value,defaultValueNo,unitName,dataType,decLen,changeCycle,reDispCycle,sourceNo,valueTransFunc,valueValidity,dispNo,lastRecNo,lastOpCode,syncFlag,syncNo,status,note,modifyTime) VALUES
 (-1,'sex','性别',10,-29999,'',-29999,'','int',0,0,0,1,'GetSexName',0,1,-1,'0','1',0,'1','',datetime('now','localtime')),
 (-1,'age','年龄',10,-29999,'',-29999,'岁','int',0,0,0,1,'GetRealyAge',0,2,-1,'0','1',0,'1','',datetime('now','localtime')),
 (-1,'height','身高',10,-29999,'',-29999,'cm','int',0,0,0,1,'',0,3,-1,'0','1',0,'1','',datetime('now','localtime')),
 (-1,'weight','体重',10,-29999,'',-29999,'kg','float',1,0,0,1,'',0,4,-1,'0','1',0,'1','',datetime('now','localtime')),
 (-1,'systolicBloodPressure','收缩压',20,-29999,'',-29999,'mmHg','int',0,0,0,1002,'',0,1,-1,'0','1',0,'1','',datetime('now','localtime')),
 (-1,'diastolicBloodPressure','舒张压',20,-29999,'',-29999,'mmHg','int',0,0,0,1002,'',0,2,-1,'0','1',0,'1','',datetime('now','localtime')),
 (-1,'quietPulse','脉搏',20,-29999,'',-29999,'次/分','int',0,0,0,1002,'',0,3,-1,'0','1',0,'1','',datetime('now','localtime')),
 (-1,'pedoNumberOfSteps','步数',30,-29999,'',-29999,'步','int',0,0,0,122,'',0,1,-1,'0','1',0,'1','',datetime('now','localtime')),
 (-1,'pedoDistance','距离',30,-29999,'',-29999,'米','int',0,0,0,122,'',0,2,-1,'0','1',0,'1','',datetime('now','localtime')),
 (-1,'pedoCalorieExpenditure','热量消耗',30,-29999,'',-29999,'千卡','float',3,0,0,122,'',0,3,-1,'0','1',0,'1','',datetime('now','localtime')),
 (-1,'pedoValidTime','有效运动时间',30,-29999,'',-29999,'','int',0,0,0,122,'GetFormatTimeStr',0,4,-1,'0','1',0,'1','',datetime('now','localtime')),
 (-1,'pedoStepLength','步长',30,-29999,'',-29999,'cm','int',0,0,0,122,'',0,5,-1,'0','1',0,'1','',datetime('now','localtime')),
 (-1,'realWeather','天气',40,-29999,'',-29999,'','int',0,0,0,3,'',0,1,-1,'0','0',0,'1','',datetime('now','localtime')),
 (-1,'realTemperature','气温',40,-29999,'',-29999,'℃','int',0,0,0,3,'',0,2,-1,'0','0',0,'1','',datetime('now','localtime')),
 (-1,'realHumidity','湿度',40,-29999,'',-29999,'%','int',0,0,0,3,'',0,3,-1,'0','0',0,'1','',datetime('now','localtime')),
 (-1,'realWindLevel','风力',40,-29999,'',-29999,'级','int',0,0,0,3,'',0,4,-1,'0','0',0,'1','',datetime('now','localtime')),
 (-1,'realWindDirectionName','风向',40,-29999,'',-29999,'','int',0,0,0,3,'GetWindDirectionName',0,5,-1,'0','0',0,'1','',datetime('now','localtime')),
 (-1,'computerUseSecond','电脑使用时间',50,-29999,'',-29999,'','int',0,0,5,2,'GetFormatTimeStr',0,1,-1,'0','0',0,'1','',datetime('now','localtime')),
 (-1,'mskbUseSecond','键鼠操作时间',50,-29999,'',-29999,'','int',0,0,5,2,'GetFormatTimeStr',0,2,-1,'0','0',0,'1','',datetime('now','localtime')),
 (-1,'surfingInternetSecond','上网时间',50,-29999,'',-29999,'','int',0,0,5,2,'GetFormatTimeStr',0,3,-1,'0','0',0,'1','',datetime('now','localtime')),
 (-1,'mskbOpRate','键鼠操作率',50,-29999,'',-29999,'%','int',0,0,0,2,'',0,4,-1,'0','0',0,'1','',datetime('now','localtime')),
 (-1,'devTemperature','室内温度',60,-29999,'',-29999,'℃','int',0,0,0,1,'',0,1,-1,'0','0',0,'1','',datetime('now','localtime')),
 (-1,'devHumidity','室内湿度',60,-29999,'',-29999,'%','int',0,0,0,1,'',0,2,-1,'0','0',0,'1','',datetime('now','localtime')),
 (-1,'devAirQuality','空气质量',60,-29999,'',-29999,'','int',0,0,0,1,'',0,3,-1,'0','0',0,'1','',datetime('now','localtime'));
INSERT INTO tHealthElementSource (healthElementID,sourceNo,dispNo,lastRecNo,lastOpCode,status,note)
  SELECT healthElementID, sourceNo, dispNo, -1, '0', '1', '' FROM tHealthElement;

-- Blood-pressure reminders 16, 17, 18: off until a blood-pressure monitor is
-- first registered, which switches them on. The "Time" condition takes the
-- detail's alertMinute.
INSERT INTO tAlertConfig (alertNo,alertType,alertLevel,alertMode,procMode,execNo,message,summary,duraMinute,actionNo,actionRuleFlag,startDate,endDate,repeatFlag,alertMinute,status,note) VALUES
 (16,'0',1,1,1,0,'请测量早晨血压','',0,-1,'0',0,0,'0',700,'0',''),
 (17,'0',1,1,1,0,'请测量白天血压','',0,-1,'0',0,0,'0',1400,'0',''),
 (18,'0',1,1,1,0,'请测量夜间血压','',0,-1,'0',0,0,'0',2100,'0','');
INSERT INTO tAlertConfigDetail (alertNo,no,alertType,alertLevel,alertMode,procMode,execNo,message,summary,duraMinute,lastAlertTime,actionNo,actionRuleFlag,startDate,endDate,repeatFlag,alertMinute,status,note)
  SELECT alertNo,1,alertType,alertLevel,alertMode,procMode,execNo,message,summary,duraMinute,lastAlertTime,actionNo,actionRuleFlag,startDate,endDate,repeatFlag,alertMinute,status,note FROM tAlertConfig;
INSERT INTO tAlertConfigItem VALUES
 (16,1,'Time','=','',0,1,'0','',''),
 (17,1,'Time','=','',0,1,'0','',''),
 (18,1,'Time','=','',0,1,'0','','');

-- Computer use: type 4 is the browsing time.
INSERT INTO tAppType (appType,appTypeName,ratio,status,note,modifyTime) VALUES (4,'网页浏览',0,'1','',datetime('now','localtime'));
